// Pictures of every page and dialog, for looking at, and a look at each. The
// real program with the simulated drives (--testing) is walked by keyboard in
// the light and the dark palette, in English and in Russian: through the
// sample catalogue, a file of its own written to a simulated drive, a restore,
// a failed write and a download from nginx, which sends the catalogue's
// images slowly, until it is aborted. scripts/screenshots.sh runs this with
// FLASHWRIGHT_SCREENSHOTS naming the folder for the pictures (a temporary one
// otherwise). The walks run side by side, each a child of this program
// (--walk) with an X server of its own, at most FLASHWRIGHT_SCREENSHOT_JOBS
// (ten) at a time: most of their time goes to waiting for the simulated drives.
#include "filecontents.h"
#include "nginxserver.h"
#include "programlog.h"
#include "programsession.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QHash>
#include <QImage>
#include <QRegularExpression>
#include <QTest>
#include <QUrl>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

using Settle = ProgramSession::Settle;

struct Failure
{
    QString message;
};

// One walk in one palette and language, from a program of its own. The
// pictures are named <number>-<view>-<palette>-<language>.png, so that the
// four variants of a view sort together. Tab order on the editions page: the
// back arrow, then the cards; on the version page: the back arrow, the
// version and architecture buttons (two and two with the sample catalogue),
// the image list, the check box, the drive list. A page that comes back to the
// top of the stack gives the keyboard to the control that had it.
class Walk
{
public:
    // The walk, palette, language, picture folder and served feed.
    explicit Walk(const QStringList &arguments)
        : m_arguments(arguments)
    { }
    [[nodiscard]] QString title() const { return m_arguments.mid(0, 3).join(QLatin1String(", ")); }
    [[nodiscard]] QByteArray logTail() const { return m_session.logTail(2000); }
    void run();

private:
    void start(const QString &feed);
    void waitFor(const QByteArray &line)
    {
        if (m_session.waitForLog(line, 60000) < 0)
            throw Failure { QStringLiteral("the program never logged \"%1\"").arg(QString::fromUtf8(line)) };
    }
    // The page with the catalogue and the drives: the catalogue has arrived,
    // and so has the drive that can be restored, two seconds after the others.
    void waitForStartPage()
    {
        waitFor(ProgramLog::catalogueReceived);
        waitFor(ProgramLog::connected("Contains Live"));
    }
    void check(bool done) const
    {
        if (!done)
            throw Failure { m_session.errorString() };
    }
    void keys(const QString &keys) { check(m_session.keys(keys.split(QLatin1Char(' ')), Settle::AtRest)); }
    // A key on a page that never comes to rest (a progress bar running).
    void movingKey(const QString &key) { check(m_session.keys({ key })); }
    void shot(const QString &view, Settle settle = Settle::AtRest)
    {
        check(m_session.grab(
            QStringLiteral("%1/%2-%3-%4.png").arg(m_arguments.at(3), view, m_arguments.at(1), m_arguments.at(2)),
            settle));
    }
    void dialogKeys(const QString &keys) { check(m_session.dialogKeys(keys.split(QLatin1Char(' ')))); }

    const QStringList m_arguments;
    ProgramSession m_session;
};

void Walk::start(const QString &feed)
{
    // The palette comes from a KDE colour scheme: Qt reads the window colour
    // from kdeglobals when the desktop says it is KDE.
    const bool dark = m_arguments.at(1) == QLatin1String("dark");
    QByteArray scheme;
    for (const char *group : { "Window", "View", "Button" })
        scheme += QByteArray("[Colors:") + group + "]\nBackgroundNormal=" + (dark ? "40,40,40" : "239,239,239")
            + "\nForegroundNormal=" + (dark ? "252,252,252" : "35,38,39") + '\n';
    // The file the pages write: the file dialog opens in the program's
    // working folder, where it is the only one.
    if (!QDir().mkpath(m_session.configFolder()) || !QDir().mkpath(m_session.workFolder())
        || !FileContents::write(m_session.configFolder() + QStringLiteral("/kdeglobals"), scheme)
        || !FileContents::write(m_session.workFolder() + QStringLiteral("/zelvan-live.iso"), QByteArray(65536, 0)))
        throw Failure { QStringLiteral("cannot write the colour scheme and the file") };
    const QString locale
        = m_arguments.at(2) == QLatin1String("ru") ? QStringLiteral("ru_RU.UTF-8") : QStringLiteral("en_US.UTF-8");
    QProcessEnvironment environment;
    environment.insert(QStringLiteral("LANG"), locale);
    environment.insert(QStringLiteral("LC_ALL"), locale);
    environment.insert(QStringLiteral("XDG_CURRENT_DESKTOP"), QStringLiteral("KDE"));
    environment.insert(QStringLiteral("KDE_SESSION_VERSION"), QStringLiteral("5"));
    check(m_session.start({ QStringLiteral("--testing"), QStringLiteral("--releasesUrl"), feed }, environment));
}

void Walk::run()
{
    const QString walk = m_arguments.at(0);
    if (walk == QLatin1String("start")) {
        // With the notice (one second after start) and the restore choice
        // (two seconds): the fullest the first page gets. Nothing listens at
        // port 9: the catalogue never arrives.
        start(QStringLiteral("http://127.0.0.1:9/feed.json"));
        waitFor(ProgramLog::connected("Contains Live"));
        shot(QStringLiteral("01-main-connecting"));
    } else if (walk == QLatin1String("catalogue")) {
        start(QUrl::fromLocalFile(QStringLiteral(FLASHWRIGHT_TEST_SUPPORT_DIR "/feeds/catalogue.json")).toString());
        waitForStartPage();
        shot(QStringLiteral("02-main"));
        keys(QStringLiteral("Return Tab Tab"));
        shot(QStringLiteral("03-editions"));
        keys(QStringLiteral("Return"));
        shot(QStringLiteral("04-version-standard"));
        keys(QStringLiteral("Tab Tab Tab Tab Tab Tab space"));
        shot(QStringLiteral("05-version-image-list"));
        keys(QStringLiteral("Escape"));
        // Back on the editions page with the first card focused: the home
        // edition, its 7.3 line and the ARM image, whose details run longest.
        keys(QStringLiteral("Escape Tab Tab Return"));
        keys(QStringLiteral("Tab Tab Tab space Tab Tab space"));
        shot(QStringLiteral("06-version-home-arm"));
        keys(QStringLiteral("Escape Tab Return"));
        shot(QStringLiteral("07-version-education"));
        keys(QStringLiteral("Escape shift+Tab shift+Tab Return"));
        shot(QStringLiteral("08-cert"));
    } else if (walk == QLatin1String("write")) {
        // A file of the user's own written to "Okay". The drive list reads:
        // Not Large Enough, Contains Live (selected), Fails, Gets
        // Disconnected, Okay.
        start(m_arguments.at(4));
        waitForStartPage();
        keys(QStringLiteral("Tab Tab space"));
        shot(QStringLiteral("09-drive"));
        keys(QStringLiteral("Tab Tab space"));
        shot(QStringLiteral("10-drive-file-dialog"));
        keys(QStringLiteral("Return Tab space Down Down Down Return Tab"));
        shot(QStringLiteral("11-drive-chosen"));
        keys(QStringLiteral("space"));
        check(m_session.showDialog());
        shot(QStringLiteral("12-erase-confirmation"));
        dialogKeys(QStringLiteral("Tab space"));
        // "Okay" takes ten seconds; the picture shows it a little way in.
        waitFor(ProgramLog::writing("Okay"));
        QTest::qWait(1000);
        shot(QStringLiteral("13-progress-writing"), Settle::Moving);
        movingKey(QStringLiteral("Escape"));
        check(m_session.showDialog());
        shot(QStringLiteral("14-cancel-writing"), Settle::Moving);
        dialogKeys(QStringLiteral("Escape"));
        waitFor(ProgramLog::wrote("Okay"));
        shot(QStringLiteral("15-progress-finished"));
    } else if (walk == QLatin1String("restore")) {
        // The live drive restored; its even size restores.
        start(m_arguments.at(4));
        waitForStartPage();
        keys(QStringLiteral("Tab Tab Tab space"));
        shot(QStringLiteral("16-restore"));
        movingKey(QStringLiteral("Return"));
        waitFor(ProgramLog::restoring("Contains Live"));
        // A little way in, as the writing and the download below.
        QTest::qWait(500);
        shot(QStringLiteral("17-restore-progress"), Settle::Moving);
        waitFor(ProgramLog::restoreEnded);
        shot(QStringLiteral("18-restore-finished"));
    } else if (walk == QLatin1String("fail")) {
        // A failed write, then a download from the slow server, aborted. Back
        // on the first page the keyboard is where it was, on the local file.
        start(m_arguments.at(4));
        waitForStartPage();
        keys(QStringLiteral("Tab Tab space Tab Tab space"));
        keys(QStringLiteral("Return Tab space Down Return Tab space"));
        dialogKeys(QStringLiteral("Tab space"));
        // "Fails" gives up at half its size, after four seconds.
        waitFor(ProgramLog::writeFailed("Fails"));
        shot(QStringLiteral("19-progress-failed"));
        keys(QStringLiteral("Escape shift+Tab Return Tab Tab Return"));
        movingKey(QStringLiteral("Return"));
        waitFor(ProgramLog::downloadStarted);
        QTest::qWait(1500);
        shot(QStringLiteral("20-progress-downloading"), Settle::Moving);
        movingKey(QStringLiteral("Escape"));
        check(m_session.showDialog());
        shot(QStringLiteral("21-cancel-download"), Settle::Moving);
        dialogKeys(QStringLiteral("Tab space"));
    } else {
        throw Failure { QStringLiteral("no walk called ") + walk };
    }
    m_session.stop();
}

} // namespace

class TestScreenshots : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void variants();
    void pictures_data();
    void pictures();

private:
    NginxServer m_server;
    // With a space, which the picture taker takes in a file name.
    QTemporaryDir m_temporary { QDir::tempPath() + QStringLiteral("/screen shots-XXXXXX") };
    QString m_out;
    QStringList m_files;
};

void TestScreenshots::initTestCase()
{
    // Asked for the pictures, a missing tool is a failure.
    const QString why = ProgramSession::unavailableReason();
    if (!why.isEmpty() && qEnvironmentVariableIsEmpty("FLASHWRIGHT_SCREENSHOTS"))
        QSKIP(qPrintable(why));
    QVERIFY2(why.isEmpty(), qPrintable(why));
    QVERIFY2(m_server.start(), qPrintable(m_server.errorString()));
    // 256 MiB at 1 MiB a second: the download is under way until it is aborted.
    QVERIFY(m_server.serveFeed(QStringLiteral("catalogue.json"), QStringLiteral("catalogue.json"), 256 << 20));
    const QString served = m_server.url(QStringLiteral("/feeds/catalogue.json")).toString();
    m_out = qEnvironmentVariable("FLASHWRIGHT_SCREENSHOTS", m_temporary.path());
    QVERIFY(QDir().mkpath(m_out));

    // The longest walks first; each child says how long it took, or why it failed.
    QList<QStringList> walks;
    for (const char *walk : { "write", "fail", "catalogue", "restore", "start" }) {
        for (const char *palette : { "light", "dark" }) {
            for (const char *language : { "en", "ru" })
                walks.append({ QStringLiteral("--walk"), QLatin1String(walk), QLatin1String(palette),
                               QLatin1String(language), m_out, served });
        }
    }
    const int jobs = qMax(1,
                          qEnvironmentVariableIsSet("FLASHWRIGHT_SCREENSHOT_JOBS")
                              ? qEnvironmentVariableIntValue("FLASHWRIGHT_SCREENSHOT_JOBS")
                              : 10);
    std::vector<std::unique_ptr<QProcess>> children;
    const auto running = [&] {
        return std::count_if(children.begin(), children.end(),
                             [](const auto &child) { return child->state() != QProcess::NotRunning; });
    };
    const bool ended = QTest::qWaitFor(
        [&] {
            while (children.size() < size_t(walks.size()) && running() < jobs) {
                children.push_back(std::make_unique<QProcess>());
                children.back()->setProcessChannelMode(QProcess::ForwardedChannels);
                children.back()->start(QCoreApplication::applicationFilePath(), walks.at(int(children.size()) - 1));
            }
            return children.size() == size_t(walks.size()) && running() == 0;
        },
        840000);
    QVERIFY2(ended, "the walks did not end");
    QStringList failed;
    for (size_t i = 0; i < children.size(); ++i) {
        if (children[i]->exitStatus() != QProcess::NormalExit || children[i]->exitCode() != 0)
            failed.append(walks.at(int(i)).mid(1, 3).join(QLatin1Char(' ')));
    }
    QVERIFY2(failed.isEmpty(), qPrintable(QStringLiteral("failed walks: ") + failed.join(QLatin1String("; "))));
    m_files = QDir(m_out).entryList({ QStringLiteral("*.png") }, QDir::Files, QDir::Name);
}

// Every view in light and dark, English and Russian, the four side by side
// when sorted.
void TestScreenshots::variants()
{
    static const QRegularExpression name(QStringLiteral("^(\\d\\d-[a-z-]+)-(light|dark)-(en|ru)\\.png$"));
    QStringList views;
    for (const QString &file : std::as_const(m_files)) {
        const QRegularExpressionMatch match = name.match(file);
        QVERIFY2(match.hasMatch(), qPrintable(file));
        if (!views.contains(match.captured(1)))
            views.append(match.captured(1));
    }
    QVERIFY(views.size() >= 21);
    QStringList expected;
    for (const QString &view : std::as_const(views)) {
        for (const char *variant : { "dark-en", "dark-ru", "light-en", "light-ru" })
            expected.append(QStringLiteral("%1-%2.png").arg(view, QLatin1String(variant)));
    }
    QCOMPARE(m_files, expected);
}

void TestScreenshots::pictures_data()
{
    QTest::addColumn<QString>("file");
    for (const QString &file : std::as_const(m_files))
        QTest::newRow(qPrintable(file)) << file;
}

void TestScreenshots::pictures()
{
    QFETCH(QString, file);

    QImage picture;
    QVERIFY(picture.load(m_out + QLatin1Char('/') + file));
    // The main window is 800 by 600 with the fonts under Xvfb, and a picture
    // shows exactly the window.
    QCOMPARE(picture.size(), QSize(800, 600));

    // Not blank: many colours, and no single one nearly everywhere. The
    // sparsest page (the local file's, with a field, a list and two buttons)
    // leaves about 98 % of the window to its background.
    picture = picture.convertToFormat(QImage::Format_RGB32);
    QHash<QRgb, int> counts;
    for (int y = 0; y < picture.height(); ++y) {
        const auto *line = reinterpret_cast<const QRgb *>(picture.constScanLine(y));
        for (int x = 0; x < picture.width(); ++x)
            ++counts[line[x]];
    }
    int most = 0;
    for (int count : std::as_const(counts))
        most = qMax(most, count);
    QVERIFY2(counts.size() >= 16, qPrintable(QStringLiteral("%1 colours").arg(counts.size())));
    QVERIFY2(
        most < picture.width() * picture.height() * 995 / 1000,
        qPrintable(
            QStringLiteral("one colour covers %1 of %2 pixels").arg(most).arg(picture.width() * picture.height())));
}

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.value(1) != QLatin1String("--walk")) {
        TestScreenshots test;
        return QTest::qExec(&test, argc, argv);
    }
    // The program's own dialogs, not the desktop's through a portal.
    qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    Walk walk(arguments.mid(2));
    QElapsedTimer clock;
    clock.start();
    try {
        walk.run();
    } catch (const Failure &failure) {
        std::fprintf(stderr, "screenshots (%s): %s\n%s\n", qPrintable(walk.title()), qPrintable(failure.message),
                     walk.logTail().constData());
        return 1;
    }
    std::printf("screenshots (%s): done in %lld s\n", qPrintable(walk.title()), clock.elapsed() / 1000);
    return 0;
}

#include "tst_screenshots.moc"
