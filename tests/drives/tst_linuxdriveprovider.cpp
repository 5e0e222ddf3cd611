// Drive discovery against the fake UDisks2 service on a private system bus:
// which objects become drives, with which names and layouts, and how the list
// follows what UDisks2 announces.
#include "drivemanager.h"
#include "fakeudisks2.h"
#include "linuxdrive.h"
#include "linuxdriveprovider.h"
#include "privatebus.h"
#include "sysfstree.h"
#include "testlocale.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QTest>

#include <memory>

using namespace UdisksObjects;

namespace {
const QString kUnavailable = QStringLiteral("UDisks2 seems to be unavailable or unaccessible on your system.");

// "name (size)|live" or "|clean" for every listed drive, in list order;
// "|live image" for a drive that holds a live image, not just some layout.
QStringList listing(const DriveManager &manager)
{
    QStringList result;
    for (int row = 0; row < manager.rowCount(); ++row) {
        auto *drive = manager.data(manager.index(row), DriveManager::DriveRole).value<Drive *>();
        result.append(
            drive->name()
            + (drive->restoreStatus() == Drive::CONTAINS_LIVE ? QStringLiteral("|live") : QStringLiteral("|clean"))
            + (drive->carriesLiveImage() ? QStringLiteral(" image") : QString()));
    }
    return result;
}

// The program's drive list over UDisks2 discovery, with a model tester on it.
// The kernel's view of the block devices is a tree the test fills before
// the first scan, which starts on the next pass of the event loop.
struct Discovery
{
    SysfsTree sysfs;
    DriveManager manager { [this](DriveManager *m) { return new LinuxDriveProvider(m, sysfs.root()); } };
    QAbstractItemModelTester tester { &manager, QAbstractItemModelTester::FailureReportingMode::QtTest };

    [[nodiscard]] LinuxDriveProvider *provider() const { return static_cast<LinuxDriveProvider *>(manager.provider()); }
    // Waits for the next processed scan.
    bool scanned()
    {
        QSignalSpy spy(provider(), &DriveProvider::initializedChanged);
        return spy.wait(10000);
    }
};
} // namespace

class TestLinuxDriveProvider : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void acceptance_data();
    void acceptance();
    void systemDisks_data();
    void systemDisks();
    void systemStacks_data();
    void systemStacks();
    void backendBroken_data();
    void backendBroken();
    void hotplugInAndOut();
    void cardTakenOutAndBack();
    void layoutChangeMakesCandidate();
    void outdatedReplyIgnored();
    void unknownRemovalDoesNotRescan();

private:
    bool startFake(const Layout &layout);

    PrivateBus m_bus { PrivateBus::System };
    std::unique_ptr<FakeUDisks2> m_fake;
};

void TestLinuxDriveProvider::initTestCase()
{
    TestLocale::pinEnglish();
    QString why;
    if (!FakeUDisks2::isAvailable(&why))
        QSKIP(qPrintable(why));
    if (!m_bus.start())
        QSKIP(qPrintable(QStringLiteral("no private system bus: ") + m_bus.errorString()));
    // Whatever a test here does, it must not reach the machine's UDisks2.
    if (!PrivateBus::isSystemBusPrivate(&why))
        QFAIL(qPrintable(QStringLiteral("refusing to run: ") + why));
}

void TestLinuxDriveProvider::cleanup()
{
    m_fake.reset();
}

bool TestLinuxDriveProvider::startFake(const Layout &layout)
{
    m_fake = std::make_unique<FakeUDisks2>();
    if (!m_fake->start(layout.json())) {
        qWarning("%s", qPrintable(m_fake->errorString()));
        return false;
    }
    return true;
}

void TestLinuxDriveProvider::acceptance_data()
{
    QTest::addColumn<Layout>("layout");
    QTest::addColumn<QStringList>("listed");
    const auto row = [](const char *tag, const Layout &layout, const QStringList &listed) {
        QTest::newRow(tag) << layout << listed;
    };

    const DriveObject stick;
    const QString cruzer = QStringLiteral("SanDisk Cruzer (16.0 GB)");
    row("one vfat partition: clean", Layout().stick("sdb", stick, { "vfat" }), { cruzer + "|clean" });
    row("ext4 partition: live", Layout().stick("sdb", stick, { "vfat", "ext4" }), { cruzer + "|live" });
    row("unformatted partition: live", Layout().stick("sdb", stick, { "" }), { cruzer + "|live" });
    row("ISO on the whole disk: live image", Layout().stick("sdb", stick, {}, "iso9660"), { cruzer + "|live image" });
    row("UDF on the whole disk: live image", Layout().stick("sdb", stick, {}, "udf"), { cruzer + "|live image" });
    row("ISO partition of a hybrid image: live image", Layout().stick("sdb", stick, { "iso9660", "vfat" }),
        { cruzer + "|live image" });
    row("exFAT without table: clean", Layout().stick("sdb", stick, {}, "exfat"), { cruzer + "|clean" });
    row("squashfs without table: live", Layout().stick("sdb", stick, {}, "squashfs"), { cruzer + "|live" });
    row("blank disk: clean", Layout().stick("sdb", stick), { cruzer + "|clean" });
    row("empty partition table: clean", Layout().add("d", stick).add("sdb", disk("d", QString(), true)),
        { cruzer + "|clean" });

    DriveObject fixedUsb = stick;
    fixedUsb.removable = false;
    row("fixed disk on USB: listed", Layout().stick("sdb", fixedUsb), { cruzer + "|clean" });
    DriveObject removableAta = stick;
    removableAta.bus = QStringLiteral("ata");
    row("removable disk on another bus: listed", Layout().stick("sdb", removableAta), { cruzer + "|clean" });
    DriveObject sata = fixedUsb;
    sata.bus = QStringLiteral("ata");
    row("fixed SATA disk: not listed", Layout().stick("sda", sata, { "ext4" }), {});
    DriveObject optical = stick;
    optical.optical = true;
    row("optical drive: not listed", Layout().stick("sr0", optical).stick("sdd", optical), {});
    DriveObject emptyReader = stick;
    emptyReader.mediaAvailable = false;
    row("card reader without card: not listed", Layout().stick("sdc", emptyReader), {});

    DriveObject sdCard { QString(), QStringLiteral("SD32G"),       31914983424LL, QStringLiteral("sdio"), true, true,
                         false,     { QStringLiteral("flash_sd") } };
    row("SD card: listed", Layout().stick("mmcblk0", sdCard, { "vfat" }), { "SD32G (31.9 GB)|clean" });
    DriveObject emmc = sdCard;
    emmc.model = QStringLiteral("DA4064");
    emmc.compatibility = QStringList { QStringLiteral("flash_mmc") };
    row("internal eMMC: not listed", Layout().stick("mmcblk0", emmc, { "vfat", "ext4" }), {});
    row("card boot and RPMB areas: not listed",
        Layout()
            .add("card", sdCard)
            .add("mmcblk0boot0", disk("card"))
            .add("mmcblk0boot1", disk("card"))
            .add("mmcblk0rpmb", disk("card")),
        {});
    row("tenth partition without partition interface: not listed",
        Layout().add("card", sdCard).add("mmcblk0p10", disk("card", "vfat")), {});
    row("partition object alone: not listed", Layout().add("d", stick).add("sdb", partition("d", "sdz", "vfat")), {});
    row("loop and NVMe devices: not listed", Layout().stick("loop0", stick).stick("nvme0n1", fixedUsb), {});
    row("block without a drive: not listed", Layout().add("sdb", QJsonObject { { "idType", "vfat" } }), {});
    row("drive missing from the reply: not listed", Layout().add("sdb", disk("nowhere")), {});

    DriveObject vendorOnly = stick;
    vendorOnly.model.clear();
    DriveObject modelOnly = stick;
    modelOnly.vendor.clear();
    DriveObject nameless = stick;
    nameless.vendor.clear();
    nameless.model.clear();
    row("names: vendor only, model only, device file without its NUL",
        Layout().stick("sdb", vendorOnly).stick("sdc", modelOnly).stick("sdd", nameless),
        { "/dev/fake (16.0 GB)|clean", "Cruzer (16.0 GB)|clean", "SanDisk (16.0 GB)|clean" });
    DriveObject small = stick;
    small.size = 1000000000LL;
    row("smallest first", Layout().stick("sdb", stick).stick("sdc", small),
        { "SanDisk Cruzer (1.0 GB)|clean", cruzer + "|clean" });
}

void TestLinuxDriveProvider::acceptance()
{
    QFETCH(Layout, layout);
    QFETCH(QStringList, listed);
    QVERIFY(startFake(layout));

    Discovery discovery;
    QVERIFY(discovery.scanned());
    QVERIFY(discovery.provider()->initialized());
    QVERIFY(!discovery.manager.isBackendBroken());
    // The names of a nameless drive sort by their device file, not by chance.
    QStringList actual = listing(discovery.manager);
    if (QTest::currentDataTag() == QByteArray("names: vendor only, model only, device file without its NUL"))
        actual.sort();
    QCOMPARE(actual, listed);
    // Everything came with the one reply: no property was read on its own.
    QVERIFY(m_fake->calls(QStringLiteral("Get")).isEmpty());
    QVERIFY(m_fake->calls(QStringLiteral("GetAll")).isEmpty());
}

void TestLinuxDriveProvider::systemDisks_data()
{
    QTest::addColumn<QJsonObject>("partitionKeys");
    QTest::addColumn<bool>("listed");

    // The running system, the medium a live system started from, and
    // anything mounted outside the user's removable-media folders.
    for (const char *mountPoint :
         { "/", "/boot", "/boot/efi", "/usr", "/var", "/home", "/run/initramfs/live", "/run/live/medium",
           "/lib/live/mount/medium", "/run/archiso/bootmnt", "/cdrom", "/isodevice", "/homework", "/mnt", "/media" })
        QTest::addRow("mounted at %s", mountPoint) << QJsonObject {
            { "mountPoints", QJsonArray { QStringLiteral("/media/x"), QString::fromLatin1(mountPoint) } }
        } << false;
    QTest::newRow("mounted in the removable-media folders")
        << QJsonObject { { "mountPoints", QJsonArray { "/media/user/STICK", "/run/media/user/STICK" } } } << true;
    QTest::newRow("active swap") << QJsonObject { { "swap", QJsonObject { { "active", true } } } } << false;
    QTest::newRow("inactive swap") << QJsonObject { { "swap", QJsonObject { { "active", false } } } } << true;
}

// A USB disk the system runs from looks like any stick to UDisks2.
void TestLinuxDriveProvider::systemDisks()
{
    QFETCH(QJsonObject, partitionKeys);
    QFETCH(bool, listed);

    DriveObject other = DriveObject();
    other.model = QStringLiteral("Other");
    other.size = 8000000000LL;
    Layout layout;
    layout.add("usbdisk", DriveObject()).add("sdb", disk("usbdisk", QString(), true));
    layout.add("sdb1", partition("usbdisk", "sdb", "vfat"));
    layout.add("sdb2", partition("usbdisk", "sdb", "ext4", partitionKeys));
    layout.stick("sdc", other);
    QVERIFY(startFake(layout));

    Discovery discovery;
    QVERIFY(discovery.scanned());
    QStringList expected { "SanDisk Other (8.0 GB)|clean" };
    if (listed)
        expected.append("SanDisk Cruzer (16.0 GB)|live");
    QCOMPARE(listing(discovery.manager), expected);
}

void TestLinuxDriveProvider::systemStacks_data()
{
    // Block objects by their name in UDisks2 (which writes dm-0 as dm_2d0).
    QTest::addColumn<QJsonObject>("stacked");
    QTest::addColumn<QJsonObject>("partitionKeys");
    QTest::addColumn<QStringList>("tree");
    QTest::addColumn<bool>("listed");

    const QString sdb2 = FakeUDisks2::blockPath("sdb2");
    const QJsonArray root { "/" };
    const QJsonObject onStick { { "mountPoints", QJsonArray { "/run/media/user/STICK" } } };
    const QJsonObject lvmRoot { { "dm_2d0", kernelDevice("dm-0", { { "mountPoints", root } }) } };
    QTest::newRow("LVM volume on it mounted at /")
        << lvmRoot << QJsonObject() << QStringList { "dm-0/slaves/sdb2" } << false;
    QTest::newRow("LVM in LUKS: UDisks2's backing device, then sysfs")
        << QJsonObject { { "dm_2d1", kernelDevice("dm-1", { { "mountPoints", QJsonArray { "/home" } } }) },
                         { "dm_2d0", kernelDevice("dm-0", { { "cryptoBackingDevice", sdb2 } }) } }
        << QJsonObject() << QStringList { "dm-1/slaves/dm-0" } << false;
    QTest::newRow("md RAID member, by sysfs")
        << QJsonObject { { "md127", kernelDevice("md127", { { "mountPoints", QJsonArray { "/usr" } } }) } }
        << QJsonObject() << QStringList { "md127/slaves/sdb2", "md127/slaves/sdz1" } << false;
    QTest::newRow("/ on a loop file on it, by sysfs")
        << QJsonObject { { "loop0", kernelDevice("loop0", { { "mountPoints", root } }) } } << onStick
        << QStringList { "loop0/loop/backing_file=/run/media/user/STICK/disks/root.img" } << false;
    QTest::newRow("swap in a file on it, by UDisks2's loop device")
        << QJsonObject { { "loop0",
                           kernelDevice("loop0",
                                        { { "loop", QJsonObject { { "backingFile", "/run/media/user/STICK/swap" } } },
                                          { "swap", QJsonObject { { "active", true } } } }) } }
        << onStick << QStringList {} << false;

    // A file on another filesystem, even one mounted inside the stick's or
    // beside it under a longer name, does not make the stick a system drive.
    QTest::newRow("/ and /usr on loop files elsewhere")
        << QJsonObject { { "loop0", kernelDevice("loop0", { { "mountPoints", root } }) },
                         { "loop1", kernelDevice("loop1", { { "mountPoints", QJsonArray { "/usr" } } }) },
                         { "sdz1",
                           kernelDevice("sdz1", { { "mountPoints", QJsonArray { "/run/media/user/STICK/in" } } }) } }
        << onStick
        << QStringList { "loop0/loop/backing_file=/run/media/user/STICK/in/root.img",
                         "loop1/loop/backing_file=/run/media/user/STICKY/usr.img" }
        << true;
    QTest::newRow("the user's unlocked encrypted stick")
        << QJsonObject { { "dm_2d0",
                           kernelDevice("dm-0",
                                        { { "cryptoBackingDevice", sdb2 },
                                          { "mountPoints", QJsonArray { "/run/media/user/secret" } } }) } }
        << QJsonObject() << QStringList { "dm-0/slaves/sdb2" } << true;
}

// A USB disk whose system sits on layers above its partition: LVM, md RAID,
// dm-crypt, a loop device over a file on it.
void TestLinuxDriveProvider::systemStacks()
{
    QFETCH(QJsonObject, stacked);
    QFETCH(QJsonObject, partitionKeys);
    QFETCH(QStringList, tree);
    QFETCH(bool, listed);

    Layout layout;
    layout.add("usbdisk", DriveObject()).add("sdb", kernelDevice("sdb", disk("usbdisk", QString(), true)));
    layout.add("sdb1", partition("usbdisk", "sdb", "vfat", kernelDevice("sdb1")));
    layout.add("sdb2", partition("usbdisk", "sdb", "ext4", kernelDevice("sdb2", partitionKeys)));
    for (auto it = stacked.constBegin(); it != stacked.constEnd(); ++it)
        layout.add(it.key(), it.value().toObject());
    QVERIFY(startFake(layout));

    Discovery discovery;
    QVERIFY(discovery.sysfs.add(tree));
    QVERIFY(discovery.scanned());
    QCOMPARE(discovery.manager.length(), listed ? 1 : 0);
}

void TestLinuxDriveProvider::backendBroken_data()
{
    QTest::addColumn<bool>("serviceRuns");
    QTest::newRow("no UDisks2 on the bus") << false;
    QTest::newRow("GetManagedObjects refused") << true;
}

void TestLinuxDriveProvider::backendBroken()
{
    QFETCH(bool, serviceRuns);
    if (serviceRuns) {
        Layout layout;
        layout.stick("sdb", DriveObject());
        QJsonObject config = layout.json();
        config.insert(
            QStringLiteral("managedObjectsError"),
            QJsonObject { { "name", "org.freedesktop.UDisks2.Error.NotAuthorized" }, { "message", "Not authorized" } });
        m_fake = std::make_unique<FakeUDisks2>();
        QVERIFY2(m_fake->start(config), qPrintable(m_fake->errorString()));
    }

    Discovery discovery;
    QSignalSpy broken(&discovery.manager, &DriveManager::isBackendBrokenChanged);
    QVERIFY(broken.isValid());
    QVERIFY(broken.wait(30000));
    QVERIFY(discovery.manager.isBackendBroken());
    QCOMPARE(discovery.manager.errorString(), kUnavailable);
    QCOMPARE(discovery.manager.length(), 0);
    QVERIFY(!discovery.provider()->initialized());

    // UDisks2 comes (back) on the bus, as after an upgrade restarted it: its
    // first good reply clears the error.
    QVERIFY(startFake(Layout().stick("sdb", DriveObject())));
    QTRY_VERIFY_WITH_TIMEOUT(!discovery.manager.isBackendBroken(), 10000);
    QCOMPARE(discovery.manager.errorString(), QString());
    QTRY_COMPARE(discovery.manager.length(), 1);
}

void TestLinuxDriveProvider::hotplugInAndOut()
{
    DriveObject small = DriveObject();
    small.size = 4000000000LL;
    QVERIFY(startFake(Layout().stick("sdb", small).stick("sdd", DriveObject())));
    Discovery discovery;
    QVERIFY(discovery.scanned());
    discovery.manager.setSelectedIndex(1);
    QSignalSpy selected(&discovery.manager, &DriveManager::selectedChanged);
    QVERIFY(selected.isValid());

    // A stick between the two: its drive object comes first, then its block.
    DriveObject plugged = DriveObject();
    plugged.vendor = QStringLiteral("Kingston");
    plugged.model = QStringLiteral("DataTraveler");
    plugged.size = 8000000000LL;
    QVERIFY2(m_fake->addObject(FakeUDisks2::drivePath("kingston"), plugged.json()), qPrintable(m_fake->errorString()));
    QVERIFY2(m_fake->addObject(FakeUDisks2::blockPath("sdc"), disk("kingston", "iso9660")),
             qPrintable(m_fake->errorString()));
    QTRY_COMPARE(discovery.manager.length(), 3);
    QCOMPARE(discovery.manager.selected()->name(), QStringLiteral("Kingston DataTraveler (8.0 GB)"));
    QCOMPARE(discovery.manager.selectedIndex(), 1);
    QCOMPARE(discovery.manager.lastRestoreable(), discovery.manager.selected());

    // Pulled out again: the block object goes first.
    QVERIFY(m_fake->removeObject(FakeUDisks2::blockPath("sdc")));
    QVERIFY(m_fake->removeObject(FakeUDisks2::drivePath("kingston")));
    QTRY_COMPARE(discovery.manager.length(), 2);
    QCOMPARE(discovery.manager.selectedIndex(), 0);
    QCOMPARE(discovery.manager.lastRestoreable(), nullptr);
    QCOMPARE(listing(discovery.manager),
             (QStringList { "SanDisk Cruzer (4.0 GB)|clean", "SanDisk Cruzer (16.0 GB)|clean" }));
}

void TestLinuxDriveProvider::cardTakenOutAndBack()
{
    QVERIFY(startFake(Layout().stick("sdc", DriveObject(), { "vfat" })));
    Discovery discovery;
    QVERIFY(discovery.scanned());
    QCOMPARE(discovery.manager.length(), 1);

    QVERIFY(m_fake->updateObject(FakeUDisks2::drivePath("drive_sdc"), { { "MediaAvailable", false } }));
    QTRY_COMPARE(discovery.manager.length(), 0);
    QCOMPARE(discovery.manager.selected(), nullptr);

    DriveObject larger = DriveObject();
    larger.size = 64000000000LL;
    QJsonObject card = larger.json();
    QVERIFY(m_fake->updateObject(FakeUDisks2::drivePath("drive_sdc"), card));
    QTRY_COMPARE(discovery.manager.length(), 1);
    QCOMPARE(discovery.manager.selected()->name(), QStringLiteral("SanDisk Cruzer (64.0 GB)"));
}

void TestLinuxDriveProvider::layoutChangeMakesCandidate()
{
    QVERIFY(startFake(Layout().stick("sdb", DriveObject(), {}, "exfat")));
    Discovery discovery;
    QVERIFY(discovery.scanned());
    Drive *drive = discovery.manager.selected();
    QVERIFY(drive);
    QCOMPARE(drive->restoreStatus(), Drive::CLEAN);
    QSignalSpy candidate(&discovery.manager, &DriveManager::restoreableDriveChanged);
    QVERIFY(candidate.isValid());

    QVERIFY(m_fake->updateObject(FakeUDisks2::blockPath("sdb"), { { "idType", "iso9660" } }));
    QVERIFY(candidate.wait(10000));
    QCOMPARE(drive->restoreStatus(), Drive::CONTAINS_LIVE);
    QCOMPARE(discovery.manager.lastRestoreable(), drive);
}

// Two quick changes: the answer to the first request arrives after the one
// to the second and must not undo it.
void TestLinuxDriveProvider::outdatedReplyIgnored()
{
    QVERIFY(startFake(Layout().stick("sdc", DriveObject(), { "vfat" })));
    Discovery discovery;
    QVERIFY(discovery.scanned());

    const QString card = FakeUDisks2::drivePath("drive_sdc");
    Drive *listed = discovery.manager.selected();
    QSignalSpy removed(discovery.provider(), &DriveProvider::driveRemoved);
    QVERIFY(removed.isValid());
    QVERIFY(m_fake->holdManagedObjects(true));
    const qsizetype requests = m_fake->calls(QStringLiteral("GetManagedObjects")).size();
    QVERIFY(m_fake->updateObject(card, { { "MediaAvailable", false } }));
    QTRY_COMPARE(m_fake->calls(QStringLiteral("GetManagedObjects")).size(), requests + 1);
    QVERIFY(m_fake->holdManagedObjects(false));
    QVERIFY(m_fake->updateObject(card, { { "MediaAvailable", true }, { "Size", 32000000000LL } }));
    QTRY_COMPARE(discovery.manager.length() == 1 ? discovery.manager.selected()->name() : QString(),
                 QStringLiteral("SanDisk Cruzer (32.0 GB)"));

    // The held answer (no card) goes out; one more change is answered after it.
    QCOMPARE(m_fake->releaseManagedObjects(), 1);
    QVERIFY(m_fake->updateObject(card, { { "Size", 64000000000LL } }));
    QTRY_COMPARE(discovery.manager.selected() ? discovery.manager.selected()->name() : QString(),
                 QStringLiteral("SanDisk Cruzer (64.0 GB)"));
    QCOMPARE(removed.size(), 0);
    QCOMPARE(discovery.manager.length(), 1);
    QVERIFY(discovery.manager.selected() == listed);
}

void TestLinuxDriveProvider::unknownRemovalDoesNotRescan()
{
    QVERIFY(startFake(Layout().stick("sdb", DriveObject()).stick("loop0", DriveObject())));
    Discovery discovery;
    QVERIFY(discovery.scanned());
    const qsizetype requests = m_fake->calls(QStringLiteral("GetManagedObjects")).size();

    QVERIFY(m_fake->removeObject(FakeUDisks2::blockPath("loop0")));
    // A change that does ask for a scan, to know the removal has been heard.
    QVERIFY(m_fake->updateObject(FakeUDisks2::drivePath("drive_sdb"), { { "Size", 32000000000LL } }));
    QTRY_COMPARE(discovery.manager.selected()->name(), QStringLiteral("SanDisk Cruzer (32.0 GB)"));
    QCOMPARE(m_fake->calls(QStringLiteral("GetManagedObjects")).size(), requests + 1);
}

QTEST_GUILESS_MAIN(TestLinuxDriveProvider)
#include "tst_linuxdriveprovider.moc"
