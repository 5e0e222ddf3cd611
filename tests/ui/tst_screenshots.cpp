// Runs scripts/screenshots.sh on this build and looks at what it made: every
// view in the four variants, each picture the size of the window and showing
// something.
#include <QDir>
#include <QHash>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

class TestScreenshots : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void variants();
    void pictures_data();
    void pictures();

private:
    QTemporaryDir m_out;
    QStringList m_files;
};

void TestScreenshots::initTestCase()
{
    for (const char *tool : { "Xvfb", "xdotool" }) {
        if (QStandardPaths::findExecutable(QLatin1String(tool)).isEmpty())
            QSKIP(qPrintable(QStringLiteral("%1 is not installed (scripts/install-deps.sh)").arg(QLatin1String(tool))));
    }
    QVERIFY(m_out.isValid());
    QProcess script;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("FLASHWRIGHT_BUILD"), QStringLiteral(FLASHWRIGHT_BUILD_DIR));
    script.setProcessEnvironment(environment);
    script.setProcessChannelMode(QProcess::MergedChannels);
    script.start(QStringLiteral("bash"),
                 { QStringLiteral(FLASHWRIGHT_SOURCE_DIR "/scripts/screenshots.sh"), m_out.path() });
    QVERIFY(script.waitForStarted());
    QVERIFY2(script.waitForFinished(840000), "the screenshots script did not end");
    const QByteArray output = script.readAll();
    QVERIFY2(script.exitStatus() == QProcess::NormalExit && script.exitCode() == 0, output.constData());
    m_files = QDir(m_out.path()).entryList({ QStringLiteral("*.png") }, QDir::Files, QDir::Name);
    QVERIFY2(!m_files.isEmpty(), output.constData());
}

// Named <number>-<view>-<palette>-<language>.png: every view in light and
// dark, English and Russian, the four side by side when sorted.
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
    QVERIFY(picture.load(m_out.filePath(file)));
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

QTEST_GUILESS_MAIN(TestScreenshots)
#include "tst_screenshots.moc"
