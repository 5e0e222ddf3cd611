#include "appinfo.h"
#include "options.h"

#include <QTemporaryFile>
#include <QTest>

#include <cstdio>
#include <unistd.h>

namespace {

const QByteArray usage = "flashwright [--testing] [--no-user-agent] [--releasesUrl <url>]\n";

// Runs parse with standard output sent to a file and returns what it printed.
QByteArray parseCapturingStdout(Options &parsed, const QStringList &arguments)
{
    QTemporaryFile capture;
    if (!capture.open())
        return "(cannot capture standard output)";
    std::fflush(stdout);
    const int saved = ::dup(STDOUT_FILENO);
    ::dup2(capture.handle(), STDOUT_FILENO);
    parsed.parse(arguments);
    std::fflush(stdout);
    ::dup2(saved, STDOUT_FILENO);
    ::close(saved);
    capture.seek(0);
    return capture.readAll();
}

} // namespace

class TestOptions : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void parse_data();
    void parse();
};

void TestOptions::parse_data()
{
    QTest::addColumn<QString>("arguments"); // after the program path, separated by spaces
    QTest::addColumn<bool>("testing");
    QTest::addColumn<bool>("verbose");
    QTest::addColumn<bool>("noUserAgent");
    QTest::addColumn<QString>("releasesUrl"); // empty: the default feed
    QTest::addColumn<int>("usageLines");

    const QString url = QStringLiteral("https://mirror.example/feed.json");
    const auto row = [&url](const char *tag, const char *arguments, bool testing, bool verbose, bool noUserAgent,
                            const QString &releasesUrl, int usageLines) {
        QTest::newRow(tag) << QString::fromLatin1(arguments).replace(QLatin1String("URL"), url) << testing << verbose
                           << noUserAgent << releasesUrl << usageLines;
    };
    row("nothing", "", false, false, false, QString(), 0);
    row("every option, any order", "--no-user-agent --releasesUrl URL -v --testing", true, true, true, url, 0);
    row("--verbose", "--verbose", false, true, false, QString(), 0);
    row("--help alone", "--help", false, false, false, QString(), 1);
    row("--releasesUrl without value", "--releasesUrl", false, false, false, QString(), 1);
    row("--releasesUrl --help: value is --help, usage once", "--releasesUrl --help", false, false, false,
        QStringLiteral("--help"), 1);
    row("--help --releasesUrl: usage twice", "--help --releasesUrl", false, false, false, QString(), 2);
    row("--releasesUrl --testing: both", "--releasesUrl --testing", true, false, false, QStringLiteral("--testing"), 0);
    row("--releasesUrl twice: first wins", "--releasesUrl URL --releasesUrl https://b.example/", false, false, false,
        url, 0);
    row("--releasesUrl last after a valued one", "--releasesUrl URL --releasesUrl", false, false, false, url, 0);
    row("other capitals and short forms are ignored",
        "--Testing --VERBOSE -V -t -h --Help --releasesurl URL --no-user-agent=1 --testing=true", false, false, false,
        QString(), 0);
}

void TestOptions::parse()
{
    QFETCH(QString, arguments);
    QFETCH(bool, testing);
    QFETCH(bool, verbose);
    QFETCH(bool, noUserAgent);
    QFETCH(QString, releasesUrl);
    QFETCH(int, usageLines);

    Options parsed;
    const QByteArray printed = parseCapturingStdout(parsed,
                                                    QStringList { QStringLiteral("/usr/bin/flashwright") }
                                                        + arguments.split(QLatin1Char(' '), Qt::SkipEmptyParts));

    QCOMPARE(parsed.testing, testing);
    QCOMPARE(parsed.verbose, verbose);
    QCOMPARE(parsed.noUserAgent, noUserAgent);
    QCOMPARE(parsed.releasesUrl, releasesUrl.isEmpty() ? AppInfo::defaultReleasesUrl : releasesUrl);
    QCOMPARE(printed, usage.repeated(usageLines));
}

QTEST_GUILESS_MAIN(TestOptions)
#include "tst_options.moc"
