#include "programrun.h"
#include "udisksfixture.h"

#include <QFile>
#include <QStandardPaths>
#include <QTemporaryFile>
#include <QtTest>

#include <fcntl.h>
#include <unistd.h>

// Before opening a device the helper unmounts what lives on it. Loop devices
// have no drive object, like device-mapper volumes on real machines: only the
// target and its partitions may lose their mounts, never another device's.
class TestHelperUnmount : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void unmountsOnlyTheTarget_data();
    void unmountsOnlyTheTarget();
    void refusesADriveInUse_data();
    void refusesADriveInUse();

private:
    bool partition(const UdisksFixture::LoopDevice &device);

    UdisksFixture m_fixture;
};

void TestHelperUnmount::initTestCase()
{
    if (!m_fixture.skipReason().isEmpty())
        QSKIP(qPrintable(m_fixture.skipReason()));
    if (QStandardPaths::findExecutable(QStringLiteral("mkfs.ext4")).isEmpty()
        || QStandardPaths::findExecutable(QStringLiteral("sfdisk")).isEmpty())
        QSKIP("mkfs.ext4 (e2fsprogs) and sfdisk (fdisk) are needed");
}

void TestHelperUnmount::unmountsOnlyTheTarget_data()
{
    QTest::addColumn<bool>("partitioned");

    QTest::newRow("filesystem on the whole device") << false;
    QTest::newRow("filesystem on a partition") << true;
}

void TestHelperUnmount::unmountsOnlyTheTarget()
{
    QFETCH(bool, partitioned);
    constexpr qint64 size = 64 * 1024 * 1024;

    const UdisksFixture::LoopDevice other = m_fixture.attach(size);
    QVERIFY2(other.isValid(), qPrintable(m_fixture.errorString()));
    QVERIFY2(m_fixture.run(QStringLiteral("mkfs.ext4"), { QStringLiteral("-q"), QStringLiteral("-F"), other.node }),
             qPrintable(m_fixture.errorString()));
    QVERIFY(m_fixture.waitForObject(other.objectPath));
    const QString otherMount = m_fixture.mount(other.node, other.objectPath);
    QVERIFY2(!otherMount.isEmpty(), qPrintable(m_fixture.errorString()));

    const UdisksFixture::LoopDevice target = m_fixture.attach(size);
    QVERIFY2(target.isValid(), qPrintable(m_fixture.errorString()));
    QString node = target.node;
    QString objectPath = target.objectPath;
    if (partitioned) {
        QVERIFY2(partition(target), qPrintable(m_fixture.errorString()));
        node = target.partitionNode(1);
        objectPath = target.partitionObjectPath(1);
    }
    QVERIFY2(m_fixture.run(QStringLiteral("mkfs.ext4"), { QStringLiteral("-q"), QStringLiteral("-F"), node }),
             qPrintable(m_fixture.errorString()));
    QVERIFY(m_fixture.waitForObject(objectPath));
    const QString targetMount = m_fixture.mount(node, objectPath);
    QVERIFY2(!targetMount.isEmpty(), qPrintable(m_fixture.errorString()));

    QTemporaryFile image;
    QVERIFY(image.open());
    image.write(QByteArray(1024 * 1024, 'x'));
    image.close();
    const auto result = m_fixture.runHelper({ QStringLiteral("write"), image.fileName(), target.objectPath });
    QCOMPARE(result.standardError, QByteArray("OK\n"));
    QCOMPARE(result.exitCode, 0);
    QCOMPARE(result.lines(),
             (QStringList { QStringLiteral("1048576"), QStringLiteral("CHECK"), QStringLiteral("1048576"),
                            QStringLiteral("DONE") }));

    QVERIFY2(!UdisksFixture::isMounted(targetMount), "the target's filesystem is still mounted");
    QVERIFY2(UdisksFixture::isMounted(otherMount), "another device's filesystem was unmounted");
    QCOMPARE(UdisksFixture::readDevice(target.node, 0, 1024 * 1024), QByteArray(1024 * 1024, 'x'));

    m_fixture.detach(target);
    m_fixture.detach(other);
}

// One GPT partition of 32 MiB, shown by udisksd.
bool TestHelperUnmount::partition(const UdisksFixture::LoopDevice &device)
{
    return ProgramRun(QStringLiteral("sfdisk"), { QStringLiteral("-q"), device.node })
               .input("label: gpt\n,32MiB\n")
               .run()
               .succeeded()
        && m_fixture.addPartitions(device, 1);
}

// A filesystem of the drive that a program still uses, or a device that
// another program holds open exclusively: the helper must leave the drive
// alone. Forced, the unmount would only detach the filesystem, which would
// then write its metadata over the image.
void TestHelperUnmount::refusesADriveInUse_data()
{
    QTest::addColumn<bool>("restore");
    QTest::addColumn<bool>("fileOpen"); // otherwise the device is held exclusively
    QTest::addColumn<QString>("expectedErrors"); // %1: the partition's device node
    QTest::addColumn<int>("expectedStatus");

    const QString busy = QStringLiteral("The drive could not be unmounted: Error unmounting %1: target is busy");
    const QString taken = QStringLiteral("The drive is in use by another program. Close that program and try again.");
    const QString notOpened = QStringLiteral("Failed to open device for writing");
    QTest::newRow("write, a file open on its filesystem") << false << true << busy << 2;
    QTest::newRow("write, the device held by another program") << false << false << taken << 2;
    QTest::newRow("restore, a file open on its filesystem") << true << true << busy + notOpened << 1;
    QTest::newRow("restore, the device held by another program") << true << false << taken + notOpened << 1;
}

void TestHelperUnmount::refusesADriveInUse()
{
    QFETCH(bool, restore);
    QFETCH(bool, fileOpen);
    QFETCH(QString, expectedErrors);
    QFETCH(int, expectedStatus);
    constexpr qint64 MiB = 1024 * 1024;

    const UdisksFixture::LoopDevice target = m_fixture.attach(64 * MiB);
    QVERIFY2(target.isValid(), qPrintable(m_fixture.errorString()));
    QVERIFY2(partition(target), qPrintable(m_fixture.errorString()));
    const QString node = target.partitionNode(1);
    QVERIFY2(m_fixture.run(QStringLiteral("mkfs.ext4"), { QStringLiteral("-q"), QStringLiteral("-F"), node }),
             qPrintable(m_fixture.errorString()));
    QVERIFY(m_fixture.waitForObject(target.partitionObjectPath(1)));
    const QString mountPoint = m_fixture.mount(node, target.partitionObjectPath(1));
    QVERIFY2(!mountPoint.isEmpty(), qPrintable(m_fixture.errorString()));
    QFile file(mountPoint + QStringLiteral("/kept.txt"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    int exclusive = -1;
    if (!fileOpen) {
        file.close();
        QVERIFY2(m_fixture.run(QStringLiteral("umount"), { mountPoint }), qPrintable(m_fixture.errorString()));
        exclusive = open(QFile::encodeName(target.node).constData(), O_RDONLY | O_EXCL | O_CLOEXEC);
        QVERIFY(exclusive >= 0);
    }
    const QByteArray before = UdisksFixture::readDevice(target.node, 0, 2 * MiB);

    QTemporaryFile image;
    QVERIFY(image.open());
    image.write(QByteArray(MiB, 'x'));
    image.close();
    const auto result = restore ? m_fixture.runHelper({ QStringLiteral("restore"), target.objectPath })
                                : m_fixture.runHelper({ QStringLiteral("write"), image.fileName(), target.objectPath });
    if (exclusive >= 0)
        close(exclusive);
    QCOMPARE(QString::fromUtf8(result.standardError), expectedErrors.arg(node));
    QCOMPARE(result.exitCode, expectedStatus);
    QCOMPARE(result.standardOutput, QByteArray());

    // Nothing was written, and the filesystem is whole.
    QVERIFY(UdisksFixture::readDevice(target.node, 0, 2 * MiB) == before);
    if (fileOpen) {
        QVERIFY2(UdisksFixture::isMounted(mountPoint), "the filesystem in use was unmounted");
        file.close();
        QVERIFY2(m_fixture.run(QStringLiteral("umount"), { mountPoint }), qPrintable(m_fixture.errorString()));
    }
    QVERIFY2(m_fixture.run(QStringLiteral("e2fsck"), { QStringLiteral("-f"), QStringLiteral("-n"), node }),
             qPrintable(m_fixture.errorString()));
    m_fixture.detach(target);
}

QTEST_GUILESS_MAIN(TestHelperUnmount)
#include "tst_helperunmount.moc"
