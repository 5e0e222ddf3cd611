// The catalogue's road on a machine's own disk service: the real program
// downloads and checks the demo image with the real udisksd on the system bus
// (which lists no loop device as a drive to write to), then the helper writes
// it to a loop device, started with the arguments the program gives it.
#include "democatalogue.h"
#include "nginxserver.h"
#include "privatebus.h"
#include "programlog.h"
#include "programsession.h"
#include "udisksfixture.h"

#include <QDir>
#include <QFile>
#include <QTest>

class TestEndToEndLoop : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void downloadThenHelperWrite();
    void cleanup();

private:
    UdisksFixture m_fixture;
    PrivateBus m_sessionBus { PrivateBus::Session };
    NginxServer m_nginx;
    ProgramSession m_program;
};

void TestEndToEndLoop::initTestCase()
{
    if (!m_fixture.skipReason().isEmpty())
        QSKIP(qPrintable(m_fixture.skipReason()));
    QString why = ProgramSession::unavailableReason();
    if (why.isEmpty() && !DemoCatalogue::missingTools().isEmpty())
        why = DemoCatalogue::missingTools() + QStringLiteral(" missing (scripts/install-deps.sh)");
    if (why.isEmpty() && !m_nginx.start())
        why = m_nginx.errorString();
    if (!why.isEmpty())
        QSKIP(qPrintable(why));
    QVERIFY2(m_sessionBus.start(), qPrintable(m_sessionBus.errorString()));
    QVERIFY2(DemoCatalogue::make(DemoCatalogue::templatePath(), m_nginx.root(), m_nginx.url(QStringLiteral("/")), &why),
             qPrintable(why));
    // The program asks the fixture's udisksd, never the machine's own.
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", m_fixture.busAddress().toLocal8Bit());
}

void TestEndToEndLoop::cleanup()
{
    if (QTest::currentTestFailed())
        qWarning().noquote() << "The program's log ends:\n" << m_program.logTail();
    m_program.stop();
}

void TestEndToEndLoop::downloadThenHelperWrite()
{
    QVERIFY2(m_program.start({ QStringLiteral("--releasesUrl"), m_nginx.url(QStringLiteral("/feed.json")).toString() }),
             qPrintable(m_program.errorString()));
    QVERIFY2(m_program.waitForLog(ProgramLog::catalogueReceived, 30000) >= 0, "no catalogue");
    // "Download", the first edition, "Continue": the download and its check.
    QVERIFY2(m_program.keys({ QStringLiteral("Return"), QStringLiteral("Tab"), QStringLiteral("Tab"),
                              QStringLiteral("Return"), QStringLiteral("Return") }),
             qPrintable(m_program.errorString()));
    QVERIFY2(m_program.waitForStatus("READY", 60000) >= 0, "the download did not become ready");
    QCOMPARE(m_program.statuses(), (QList<QByteArray> { "DOWNLOADING", "DOWNLOAD_VERIFYING", "READY" }));
    const QStringList downloaded = QDir(m_program.downloads()).entryList(QDir::Files);
    QCOMPARE(downloaded.size(), 1);
    const QString path = m_program.downloads() + QLatin1Char('/') + downloaded.constFirst();
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray image = file.readAll();
    QFile served(m_nginx.root() + QStringLiteral("/images/.implanted.iso"));
    QVERIFY(served.open(QIODevice::ReadOnly));
    QVERIFY2(image == served.readAll(), "the download is the served image");
    m_program.stop();

    // As LinuxDrive starts it: "write", the image file, the block object.
    const UdisksFixture::LoopDevice device = m_fixture.attach(32 << 20);
    QVERIFY2(device.isValid(), qPrintable(m_fixture.errorString()));
    const UdisksFixture::Result result = m_fixture.runHelper({ QStringLiteral("write"), path, device.objectPath });
    QVERIFY2(result.exitStatus == QProcess::NormalExit && result.exitCode == 0, result.standardError.constData());
    const QStringList lines = result.lines();
    QVERIFY(lines.contains(QStringLiteral("CHECK")));
    QCOMPARE(lines.constLast(), QStringLiteral("DONE"));
    QVERIFY2(UdisksFixture::readDevice(device.node, 0, image.size()) == image, "the loop device holds the image");
    QVERIFY(m_fixture.detach(device));
}

QTEST_GUILESS_MAIN(TestEndToEndLoop)
#include "tst_endtoendloop.moc"
