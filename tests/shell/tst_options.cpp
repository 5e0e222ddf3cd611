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
    QTest::addColumn<QStringList>("arguments"); // after the program path
    QTest::addColumn<bool>("testing");
    QTest::addColumn<bool>("verbose");
    QTest::addColumn<bool>("noUserAgent");
    QTest::addColumn<QString>("releasesUrl"); // empty: the default feed
    QTest::addColumn<int>("usageLines");

    const QString url = QStringLiteral("https://mirror.example/feed.json");
    QTest::newRow("nothing") << QStringList() << false << false << false << QString() << 0;
    QTest::newRow("every option, any order")
        << QStringList { QStringLiteral("--no-user-agent"), QStringLiteral("--releasesUrl"), url, QStringLiteral("-v"),
                         QStringLiteral("--testing") }
        << true << true << true << url << 0;
    QTest::newRow("--verbose") << QStringList { QStringLiteral("--verbose") } << false << true << false << QString()
                               << 0;
    QTest::newRow("--help alone") << QStringList { QStringLiteral("--help") } << false << false << false << QString()
                                  << 1;
    QTest::newRow("--releasesUrl without value")
        << QStringList { QStringLiteral("--releasesUrl") } << false << false << false << QString() << 1;
    QTest::newRow("--releasesUrl --help: value is --help, usage once")
        << QStringList { QStringLiteral("--releasesUrl"), QStringLiteral("--help") } << false << false << false
        << QStringLiteral("--help") << 1;
    QTest::newRow("--help --releasesUrl: usage twice")
        << QStringList { QStringLiteral("--help"), QStringLiteral("--releasesUrl") } << false << false << false
        << QString() << 2;
    QTest::newRow("--releasesUrl --testing: both")
        << QStringList { QStringLiteral("--releasesUrl"), QStringLiteral("--testing") } << true << false << false
        << QStringLiteral("--testing") << 0;
    QTest::newRow("--releasesUrl twice: first wins")
        << QStringList { QStringLiteral("--releasesUrl"), url, QStringLiteral("--releasesUrl"),
                         QStringLiteral("https://b.example/") }
        << false << false << false << url << 0;
    QTest::newRow("--releasesUrl last after a valued one")
        << QStringList { QStringLiteral("--releasesUrl"), url, QStringLiteral("--releasesUrl") } << false << false
        << false << url << 0;
    QTest::newRow("other capitals and short forms are ignored") << QStringList { QStringLiteral("--Testing"),
                                                                                 QStringLiteral("--VERBOSE"),
                                                                                 QStringLiteral("-V"),
                                                                                 QStringLiteral("-t"),
                                                                                 QStringLiteral("-h"),
                                                                                 QStringLiteral("--Help"),
                                                                                 QStringLiteral("--releasesurl"),
                                                                                 url,
                                                                                 QStringLiteral("--no-user-agent=1"),
                                                                                 QStringLiteral("--testing=true") }
                                                                << false << false << false << QString() << 0;
}

void TestOptions::parse()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, testing);
    QFETCH(bool, verbose);
    QFETCH(bool, noUserAgent);
    QFETCH(QString, releasesUrl);
    QFETCH(int, usageLines);

    Options parsed;
    const QByteArray printed
        = parseCapturingStdout(parsed, QStringList { QStringLiteral("/usr/bin/flashwright") } + arguments);

    QCOMPARE(parsed.testing, testing);
    QCOMPARE(parsed.verbose, verbose);
    QCOMPARE(parsed.noUserAgent, noUserAgent);
    QCOMPARE(parsed.releasesUrl, releasesUrl.isEmpty() ? AppInfo::defaultReleasesUrl : releasesUrl);
    QCOMPARE(printed, usage.repeated(usageLines));
}

QTEST_GUILESS_MAIN(TestOptions)
#include "tst_options.moc"
