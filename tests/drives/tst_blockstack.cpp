// The walk down a block device stack through sysfs, over trees of files.
#include "blockstack.h"
#include "sysfstree.h"

#include <QTest>

class TestBlockStack : public QObject
{
    Q_OBJECT

private slots:
    void walk_data();
    void walk();
};

void TestBlockStack::walk_data()
{
    QTest::addColumn<QStringList>("tree");
    QTest::addColumn<QString>("device");
    QTest::addColumn<QStringList>("devices");
    QTest::addColumn<QStringList>("backingFiles");

    QTest::newRow("unknown to sysfs: itself") << QStringList {} << "sdb1" << QStringList { "sdb1" } << QStringList {};
    QTest::newRow("LVM volume over two disks") << QStringList { "dm-0/slaves/sdb2", "dm-0/slaves/sdc1" } << "dm-0"
                                               << QStringList { "dm-0", "sdb2", "sdc1" } << QStringList {};
    QTest::newRow("LVM in LUKS on md RAID, nearest first")
        << QStringList { "dm-1/slaves/dm-0", "dm-0/slaves/md127", "md127/slaves/sdb1", "md127/slaves/sdc1" } << "dm-1"
        << QStringList { "dm-1", "dm-0", "md127", "sdb1", "sdc1" } << QStringList {};
    QTest::newRow("loop over a file, deleted since")
        << QStringList { "loop0/loop/backing_file=/run/initramfs/live/LiveOS/squashfs.img (deleted)" } << "loop0"
        << QStringList { "loop0" } << QStringList { "/run/initramfs/live/LiveOS/squashfs.img" };
    QTest::newRow("a loop back to itself ends") << QStringList { "dm-0/slaves/dm-1", "dm-1/slaves/dm-0" } << "dm-0"
                                                << QStringList { "dm-0", "dm-1" } << QStringList {};
}

void TestBlockStack::walk()
{
    QFETCH(QStringList, tree);
    QFETCH(QString, device);
    QFETCH(QStringList, devices);
    QFETCH(QStringList, backingFiles);
    SysfsTree sysfs;
    QVERIFY(sysfs.add(tree));

    const BlockStack stack = BlockStack::of(sysfs.root(), device);
    QCOMPARE(stack.devices, devices);
    QCOMPARE(stack.backingFiles, backingFiles);
}

QTEST_GUILESS_MAIN(TestBlockStack)
#include "tst_blockstack.moc"
