// Discovery against the real udisksd on a private system bus (the ctest
// fixture 'udisks'): its reply decodes, a scan completes with the back end
// working, its signals lead to new scans, and loop devices are not offered.
// Nothing is written.
#include "dbustypes.h"
#include "drivemanager.h"
#include "linuxdrive.h"
#include "linuxdriveprovider.h"
#include "privatebus.h"
#include "udisksfixture.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingReply>
#include <QSignalSpy>
#include <QTest>

#include <memory>

class TestUdisksDiscovery : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void replyDecodes();
    void scanSkipsLoopDevices();

private:
    std::unique_ptr<UdisksFixture> m_fixture;
};

void TestUdisksDiscovery::initTestCase()
{
    m_fixture = std::make_unique<UdisksFixture>();
    if (!m_fixture->skipReason().isEmpty())
        QSKIP(qPrintable(m_fixture->skipReason()));
    // Before the first use of the system bus connection, which reads it once.
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", m_fixture->busAddress().toUtf8());
    QString why;
    if (!PrivateBus::isSystemBusPrivate(&why))
        QFAIL(qPrintable(QStringLiteral("refusing to run: ") + why));
}

void TestUdisksDiscovery::replyDecodes()
{
    const UdisksFixture::LoopDevice loop = m_fixture->attach(32 * 1024 * 1024);
    QVERIFY2(loop.isValid(), qPrintable(m_fixture->errorString()));

    qDBusRegisterMetaType<InterfacesAndProperties>();
    qDBusRegisterMetaType<DBusIntrospection>();
    const QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.UDisks2"), QStringLiteral("/org/freedesktop/UDisks2"),
        QStringLiteral("org.freedesktop.DBus.ObjectManager"), QStringLiteral("GetManagedObjects"));
    QDBusPendingReply<DBusIntrospection> reply = QDBusConnection::systemBus().asyncCall(call);
    reply.waitForFinished();
    QVERIFY2(!reply.isError(), qPrintable(reply.error().message()));
    const QVariantHash block
        = reply.value().value(QDBusObjectPath(loop.objectPath)).value(QStringLiteral("org.freedesktop.UDisks2.Block"));
    QCOMPARE(block.value(QStringLiteral("Device")).toByteArray(), loop.node.toUtf8() + '\0');
    QCOMPARE(block.value(QStringLiteral("Drive")).value<QDBusObjectPath>().path(), QStringLiteral("/"));
}

void TestUdisksDiscovery::scanSkipsLoopDevices()
{
    DriveManager manager([](DriveManager *m) { return new LinuxDriveProvider(m); });
    auto *provider = static_cast<LinuxDriveProvider *>(manager.provider());
    QSignalSpy scanned(provider, &DriveProvider::initializedChanged);
    QVERIFY(scanned.isValid());
    QVERIFY(scanned.wait(30000));
    QVERIFY(provider->initialized());
    QVERIFY(!manager.isBackendBroken());

    // A new block device is announced, and answered with a scan.
    scanned.clear();
    const UdisksFixture::LoopDevice loop = m_fixture->attach(32 * 1024 * 1024);
    QVERIFY2(loop.isValid(), qPrintable(m_fixture->errorString()));
    QVERIFY(scanned.wait(30000));
    QVERIFY(!manager.isBackendBroken());
    const QList<LinuxDrive *> drives = provider->drives().values();
    for (const LinuxDrive *drive : drives)
        QVERIFY2(!drive->device().contains(QLatin1String("/loop")), qPrintable(drive->device()));
}

QTEST_GUILESS_MAIN(TestUdisksDiscovery)
#include "tst_udisksdiscovery.moc"
