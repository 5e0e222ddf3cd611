#include "udisksfixture.h"

#include <QFile>
#include <QStandardPaths>
#include <QTemporaryFile>
#include <QtTest>

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

private:
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
        QTemporaryFile layout;
        QVERIFY(layout.open());
        layout.write("label: gpt\n,32MiB\n");
        layout.close();
        QProcess sfdisk;
        sfdisk.setStandardInputFile(layout.fileName());
        sfdisk.start(QStringLiteral("sfdisk"), { QStringLiteral("-q"), target.node });
        QVERIFY(sfdisk.waitForFinished());
        QCOMPARE(sfdisk.exitCode(), 0);
        QVERIFY2(m_fixture.addPartitions(target, 1), qPrintable(m_fixture.errorString()));
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

QTEST_GUILESS_MAIN(TestHelperUnmount)
#include "tst_helperunmount.moc"
