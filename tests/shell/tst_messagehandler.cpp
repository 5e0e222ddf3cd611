#include "appinfo.h"
#include "messagehandler.h"
#include "options.h"

#include <QTest>

#include <cstdio>

#include <sys/wait.h>
#include <unistd.h>

namespace {

struct ChildResult
{
    int status = -1; // exit status, or -1 when the child did not exit normally
    QByteArray output; // standard output and standard error together
};

// Runs `body` in a forked child with the program's handler installed, so that
// a fatal message can end it, and collects what it wrote and its status.
template<typename Body> ChildResult runInChild(bool verbose, Body body)
{
    ChildResult result;
    int fds[2];
    if (::pipe(fds) != 0)
        return result;
    std::fflush(stdout);
    std::fflush(stderr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(fds[1], STDOUT_FILENO);
        ::dup2(fds[1], STDERR_FILENO);
        ::close(fds[0]);
        ::close(fds[1]);
        options.verbose = verbose;
        MessageHandler::install();
        body();
        std::fflush(stdout);
        std::fflush(stderr);
        ::_exit(0);
    }
    ::close(fds[1]);
    char buffer[4096];
    ssize_t count;
    while ((count = ::read(fds[0], buffer, sizeof buffer)) > 0)
        result.output.append(buffer, count);
    ::close(fds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (WIFEXITED(status))
        result.status = WEXITSTATUS(status);
    return result;
}

} // namespace

class TestMessageHandler : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void category();
    void messages_data();
    void messages();
};

void TestMessageHandler::category()
{
    const QLoggingCategory &category = MessageHandler::category();
    QCOMPARE(QString::fromLatin1(category.categoryName()), AppInfo::applicationId);
    QVERIFY(category.isDebugEnabled());
    QVERIFY(category.isInfoEnabled());
}

void TestMessageHandler::messages_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<bool>("verbose");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("output");

    const QByteArray text = "Drive \"sdb\" 42\n";
    const QList<std::pair<QtMsgType, QByteArray>> severities { { QtDebugMsg, "debug: " },
                                                               { QtInfoMsg, "info: " },
                                                               { QtWarningMsg, "warning: " },
                                                               { QtCriticalMsg, "critical: " } };
    for (const auto &[type, prefix] : severities) {
        QTest::addRow("%s quiet", prefix.constData()) << int(type) << false << 0 << QByteArray();
        QTest::addRow("%s verbose", prefix.constData()) << int(type) << true << 0 << prefix + text;
    }
    // A fatal message is the one word on why the program ended, verbose or not.
    QTest::newRow("fatal quiet") << int(QtFatalMsg) << false << 1 << QByteArray("fatal: Drive sdb 42\n");
    QTest::newRow("fatal verbose") << int(QtFatalMsg) << true << 1 << QByteArray("fatal: Drive sdb 42\n");
}

void TestMessageHandler::messages()
{
    QFETCH(int, type);
    QFETCH(bool, verbose);
    QFETCH(int, status);
    QFETCH(QByteArray, output);

    const ChildResult result = runInChild(verbose, [type] {
        switch (QtMsgType(type)) {
        case QtDebugMsg:
            qCDebug(MessageHandler::category) << "Drive" << QStringLiteral("sdb") << 42;
            break;
        case QtInfoMsg:
            qCInfo(MessageHandler::category) << "Drive" << QStringLiteral("sdb") << 42;
            break;
        case QtWarningMsg:
            // Some code logs through Qt's default category; it is treated alike.
            qWarning() << "Drive" << QStringLiteral("sdb") << 42;
            break;
        case QtCriticalMsg:
            qCCritical(MessageHandler::category) << "Drive" << QStringLiteral("sdb") << 42;
            break;
        case QtFatalMsg:
            qFatal("Drive %s %d", "sdb", 42);
        }
    });
    QCOMPARE(result.status, status);
    QCOMPARE(result.output, output);
}

QTEST_GUILESS_MAIN(TestMessageHandler)
#include "tst_messagehandler.moc"
