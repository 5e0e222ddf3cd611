// The helper's command line and its way to the device: which filesystems it
// has UDisks2 unmount, how it asks for the device, and what it reports when
// UDisks2 refuses.

#include "helperfixture.h"
#include "helperprocess.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QTest>

namespace {

const QString kTarget = FakeUDisks2::blockPath(QStringLiteral("sdb"));

QString block(const QString &name)
{
    return FakeUDisks2::blockPath(name);
}

QString drive(const QString &name)
{
    return name == QLatin1String("/") ? name : FakeUDisks2::drivePath(name);
}

// A block object on a drive ("/" for none), with more keys of the fake's configuration.
QJsonObject onDrive(const QString &driveName, QJsonObject keys = {})
{
    keys.insert(QStringLiteral("drive"), drive(driveName));
    return keys;
}

QJsonObject partitionOf(const QString &table, const QString &driveName, bool filesystem)
{
    QJsonObject keys { { QStringLiteral("partitionOf"), block(table) } };
    if (filesystem)
        keys.insert(QStringLiteral("filesystem"), QJsonObject());
    return onDrive(driveName, keys);
}

const QJsonObject kFilesystem { { QStringLiteral("filesystem"), QJsonObject() } };
const QJsonObject kTable { { QStringLiteral("partitionTable"), QJsonObject() } };

QJsonObject drives()
{
    return { { drive(QStringLiteral("d1")), QJsonObject { { QStringLiteral("Size"), 1 << 20 } } },
             { drive(QStringLiteral("d2")), QJsonObject { { QStringLiteral("Size"), 1 << 20 } } } };
}

} // namespace

class TestFakeAccess : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void wrongCommandLine_data();
    void wrongCommandLine();
    void openFailure_data();
    void openFailure();
    void openRequest();
    void unmountSelection_data();
    void unmountSelection();

private:
    QJsonObject config(QJsonObject blocks) const;

    HelperFixture m_fixture;
    QString m_image;
};

void TestFakeAccess::initTestCase()
{
    HELPER_FIXTURE_START(m_fixture, HelperFixture::NoXz);
    m_image = m_fixture.filePath(QStringLiteral("image.img"));
    QFile image(m_image);
    QVERIFY(image.open(QIODevice::WriteOnly));
    image.write(QByteArray(1000, 'x'));
    image.close();
}

void TestFakeAccess::init()
{
    QFile device(m_fixture.device());
    QVERIFY(device.open(QIODevice::WriteOnly | QIODevice::Truncate));
}

QJsonObject TestFakeAccess::config(QJsonObject blocks) const
{
    QJsonObject target = blocks.value(kTarget).toObject();
    if (!target.contains(QStringLiteral("open")))
        target.insert(QStringLiteral("open"), QJsonObject { { QStringLiteral("file"), m_fixture.device() } });
    blocks.insert(kTarget, target);
    return { { QStringLiteral("blocks"), blocks }, { QStringLiteral("drives"), drives() } };
}

void TestFakeAccess::wrongCommandLine_data()
{
    QTest::addColumn<QStringList>("arguments");
    const QString image = QStringLiteral("image.img");

    QTest::newRow("no arguments") << QStringList();
    QTest::newRow("write without image") << QStringList { QStringLiteral("write"), kTarget };
    QTest::newRow("write with one more") << QStringList { QStringLiteral("write"), image, kTarget,
                                                          QStringLiteral("x") };
    QTest::newRow("restore without device") << QStringList { QStringLiteral("restore") };
    QTest::newRow("restore with one more") << QStringList { QStringLiteral("restore"), kTarget, QStringLiteral("x") };
    QTest::newRow("restore with an image") << QStringList { QStringLiteral("restore"), image, kTarget };
    QTest::newRow("upper-case WRITE") << QStringList { QStringLiteral("WRITE"), image, kTarget };
    QTest::newRow("capitalised Restore") << QStringList { QStringLiteral("Restore"), kTarget };
    QTest::newRow("unknown job") << QStringList { QStringLiteral("erase"), kTarget };
    QTest::newRow("empty job word") << QStringList { QString(), image, kTarget };
}

void TestFakeAccess::wrongCommandLine()
{
    QFETCH(QStringList, arguments);
    QVERIFY2(m_fixture.fake().start(config({ { kTarget, onDrive(QStringLiteral("d1"), kFilesystem) } })),
             qPrintable(m_fixture.fake().errorString()));

    HelperProcess helper;
    QVERIFY2(helper.run(arguments), qPrintable(helper.failure()));
    QCOMPARE(helper.exitCode(), 1);
    QCOMPARE(helper.errors(), QByteArray("Helper: Wrong arguments entered"));
    QCOMPARE(helper.output(), QByteArray());
    // No job ran: nothing was unmounted or opened.
    QCOMPARE(m_fixture.fake().calls(QStringLiteral("GetManagedObjects")).size(), 0);
    QCOMPARE(m_fixture.fake().calls(QStringLiteral("Unmount")).size(), 0);
    QCOMPARE(m_fixture.fake().calls(QStringLiteral("OpenDevice")).size(), 0);
}

void TestFakeAccess::openFailure_data()
{
    QTest::addColumn<bool>("restore");
    QTest::addColumn<QString>("target");
    QTest::addColumn<QJsonObject>("configChange");
    QTest::addColumn<QByteArray>("expectedErrors"); // empty: any text
    QTest::addColumn<int>("expectedStatus");
    QTest::addColumn<bool>("openCalled");
    const auto row = [](const char *tag, bool restore, const QString &target, const QJsonObject &configChange,
                        const QByteArray &errors, int status, bool openCalled) {
        QTest::newRow(tag) << restore << target << configChange << errors << status << openCalled;
    };

    const QJsonObject unreadable { { QStringLiteral("managedObjectsError"),
                                     QStringLiteral("Object list unavailable") } };
    using UdisksObjects::dbusError;
    const QJsonObject refused { { QStringLiteral("open"),
                                  QJsonObject {
                                      { QStringLiteral("error"),
                                        dbusError(QStringLiteral("org.freedesktop.UDisks2.Error.NotAuthorized"),
                                                  QStringLiteral("Not authorized to perform operation")) } } } };
    // What UDisks2 2.9 answers for a filesystem in use, and for an exclusive
    // open of a device that another program holds.
    const QJsonObject mounted { { QStringLiteral("unmountError"),
                                  dbusError(QStringLiteral("org.freedesktop.UDisks2.Error.DeviceBusy"),
                                            QStringLiteral("Error unmounting /dev/sdb1: target is busy")) } };
    const QJsonObject inUse { { QStringLiteral("open"),
                                QJsonObject { { QStringLiteral("error"),
                                                dbusError(QStringLiteral("org.freedesktop.UDisks2.Error.Failed"),
                                                          QStringLiteral("Error opening device /dev/sdb: Device or "
                                                                         "resource busy")) } } } };
    const QByteArray notUnmounted("The drive could not be unmounted: Error unmounting /dev/sdb1: target is busy");
    const QByteArray taken("The drive is in use by another program. Close that program and try again.");

    row("write: object list unreadable", false, kTarget, unreadable, "Object list unavailable", 2, false);
    row("write: opening refused", false, kTarget, refused, "Not authorized to perform operation", 2, true);
    row("write: not a UDisks2 object", false, block(QStringLiteral("nothing")), {}, {}, 2, false);
    // No fake service at all: the bus itself answers that nobody owns the name.
    row("write: UDisks2 not running", false, kTarget, QJsonObject { { QStringLiteral("absent"), true } }, {}, 2, false);
    row("write: a filesystem stays mounted", false, kTarget, mounted, notUnmounted, 2, false);
    row("write: the device is in use", false, kTarget, inUse, taken, 2, true);
    row("restore: object list unreadable", true, kTarget, unreadable,
        "Object list unavailableFailed to open device for writing", 1, false);
    row("restore: opening refused", true, kTarget, refused,
        "Not authorized to perform operationFailed to open device for writing", 1, true);
}

void TestFakeAccess::openFailure()
{
    QFETCH(bool, restore);
    QFETCH(QString, target);
    QFETCH(QJsonObject, configChange);
    QFETCH(QByteArray, expectedErrors);
    QFETCH(int, expectedStatus);
    QFETCH(bool, openCalled);

    QJsonObject targetKeys = onDrive(QStringLiteral("d1"), kTable);
    if (configChange.contains(QStringLiteral("open")))
        targetKeys.insert(QStringLiteral("open"), configChange.value(QStringLiteral("open")));
    QJsonObject partition = partitionOf(QStringLiteral("sdb"), QStringLiteral("d1"), true);
    if (configChange.contains(QStringLiteral("unmountError")))
        partition.insert(
            QStringLiteral("filesystem"),
            QJsonObject { { QStringLiteral("unmountError"), configChange.value(QStringLiteral("unmountError")) } });
    QJsonObject configuration = config({ { kTarget, targetKeys }, { block(QStringLiteral("sdb1")), partition } });
    if (configChange.contains(QStringLiteral("managedObjectsError")))
        configuration.insert(QStringLiteral("managedObjectsError"),
                             configChange.value(QStringLiteral("managedObjectsError")));
    const bool absent = configChange.contains(QStringLiteral("absent"));
    if (absent)
        m_fixture.fake().stop();
    else
        QVERIFY2(m_fixture.fake().start(configuration), qPrintable(m_fixture.fake().errorString()));

    HelperProcess helper;
    const QStringList arguments = restore ? QStringList { QStringLiteral("restore"), target }
                                          : QStringList { QStringLiteral("write"), m_image, target };
    QVERIFY2(helper.run(arguments), qPrintable(helper.failure()));
    if (expectedErrors.isEmpty())
        QVERIFY(!helper.errors().isEmpty());
    else
        QCOMPARE(helper.errors(), expectedErrors);
    QCOMPARE(helper.exitCode(), expectedStatus);
    QCOMPARE(helper.output(), QByteArray());
    QCOMPARE(QFileInfo(m_fixture.device()).size(), 0);
    if (absent)
        return;
    QCOMPARE(m_fixture.fake().calls(QStringLiteral("OpenDevice")).size(), openCalled ? 1 : 0);
    QCOMPARE(m_fixture.fake().calls(QStringLiteral("Format")).size(), 0);
}

void TestFakeAccess::openRequest()
{
    QVERIFY2(m_fixture.fake().start(config({ { kTarget, onDrive(QStringLiteral("d1")) } })),
             qPrintable(m_fixture.fake().errorString()));

    HelperProcess helper;
    QVERIFY2(helper.run({ QStringLiteral("write"), m_image, kTarget }), qPrintable(helper.failure()));
    QCOMPARE(helper.exitCode(), 0);

    const QList<QJsonObject> opens = m_fixture.fake().calls(QStringLiteral("OpenDevice"));
    QCOMPARE(opens.size(), 1);
    const QJsonObject open = opens.constFirst();
    QCOMPARE(open.value(QStringLiteral("object")).toString(), kTarget);
    QCOMPARE(open.value(QStringLiteral("signature")).toString(), QStringLiteral("sa{sv}"));
    // O_DIRECT | O_SYNC | O_CLOEXEC | O_EXCL as an int.
    QCOMPARE(open.value(QStringLiteral("args")).toArray(),
             (QJsonArray { QStringLiteral("rw"), QJsonObject { { QStringLiteral("flags"), 1593472 } } }));
    QCOMPARE(open.value(QStringLiteral("optionTypes")).toObject(),
             (QJsonObject { { QStringLiteral("flags"), QStringLiteral("i") } }));
}

void TestFakeAccess::unmountSelection_data()
{
    QTest::addColumn<QJsonObject>("blocks");
    QTest::addColumn<QStringList>("expectedUnmounts");

    const QString d1 = QStringLiteral("d1");
    const QString d2 = QStringLiteral("d2");
    const QString none = QStringLiteral("/");
    const QString sdb = QStringLiteral("sdb");
    const QString sdc = QStringLiteral("sdc");

    QTest::newRow("every filesystem of the drive, none of another")
        << QJsonObject { { kTarget, onDrive(d1, kTable) },
                         { block(QStringLiteral("sdb1")), partitionOf(sdb, d1, true) },
                         { block(QStringLiteral("sdb2")), partitionOf(sdb, d1, true) },
                         { block(QStringLiteral("sdb3")), partitionOf(sdb, d1, false) },
                         { block(sdc), onDrive(d2, kTable) },
                         { block(QStringLiteral("sdc1")), partitionOf(sdc, d2, true) } }
        << QStringList { block(QStringLiteral("sdb1")), block(QStringLiteral("sdb2")) };
    QTest::newRow("filesystem on the whole drive")
        << QJsonObject { { kTarget, onDrive(d1, kFilesystem) }, { block(sdc), onDrive(d2, kFilesystem) } }
        << QStringList { kTarget };
    QTest::newRow("drive without filesystems")
        << QJsonObject { { kTarget, onDrive(d1, kTable) },
                         { block(QStringLiteral("sdb1")), partitionOf(sdb, d1, false) },
                         { block(QStringLiteral("sdc1")), partitionOf(sdc, d2, true) } }
        << QStringList();
    // Filesystems that are not mounted are asked too: UDisks2's list of
    // mount points may lag behind. Its answer is no failure.
    const QJsonObject notMounted = UdisksObjects::dbusError(QStringLiteral("org.freedesktop.UDisks2.Error.NotMounted"),
                                                            QStringLiteral("Device `/dev/sdb2' is not mounted"));
    QTest::newRow("not mounted is no failure")
        << QJsonObject { { kTarget, onDrive(d1, kTable) },
                         { block(QStringLiteral("sdb1")), partitionOf(sdb, d1, true) },
                         { block(QStringLiteral("sdb2")),
                           onDrive(d1,
                                   { { QStringLiteral("partitionOf"), kTarget },
                                     { QStringLiteral("filesystem"),
                                       QJsonObject { { QStringLiteral("unmountError"), notMounted } } } }) } }
        << QStringList { block(QStringLiteral("sdb1")), block(QStringLiteral("sdb2")) };
    // Devices without a drive (loop devices, some card readers) all share the
    // drive "/": only the target and its own partitions are the target's.
    QTest::newRow("no drive: the target and its partitions only")
        << QJsonObject { { kTarget,
                           onDrive(none,
                                   { { QStringLiteral("filesystem"), QJsonObject() },
                                     { QStringLiteral("partitionTable"), QJsonObject() } }) },
                         { block(QStringLiteral("sdb1")), partitionOf(sdb, none, true) },
                         { block(QStringLiteral("sdb2")), partitionOf(sdb, none, true) },
                         { block(sdc), onDrive(none, kFilesystem) },
                         { block(QStringLiteral("sdc1")), partitionOf(sdc, none, true) },
                         { block(QStringLiteral("loop0")), onDrive(none, kFilesystem) },
                         { block(QStringLiteral("sdd1")), partitionOf(QStringLiteral("sdd"), d2, true) } }
        << QStringList { kTarget, block(QStringLiteral("sdb1")), block(QStringLiteral("sdb2")) };
    QTest::newRow("no drive, no filesystem of its own")
        << QJsonObject { { kTarget, onDrive(none, kTable) },
                         { block(QStringLiteral("sdb1")), partitionOf(sdb, none, false) },
                         { block(QStringLiteral("loop0")), onDrive(none, kFilesystem) } }
        << QStringList();
}

void TestFakeAccess::unmountSelection()
{
    QFETCH(QJsonObject, blocks);
    QFETCH(QStringList, expectedUnmounts);
    QVERIFY2(m_fixture.fake().start(config(blocks)), qPrintable(m_fixture.fake().errorString()));

    HelperProcess helper;
    QVERIFY2(helper.run({ QStringLiteral("write"), m_image, kTarget }), qPrintable(helper.failure()));
    QCOMPARE(helper.errors(), QByteArray("OK\n"));
    QCOMPARE(helper.exitCode(), 0);

    QStringList unmounted = m_fixture.fake().callObjects(QStringLiteral("Unmount"));
    unmounted.sort();
    expectedUnmounts.sort();
    QCOMPARE(unmounted, expectedUnmounts);

    const QList<QJsonObject> calls = m_fixture.fake().calls();
    bool opened = false;
    for (const QJsonObject &call : calls) {
        const QString method = call.value(QStringLiteral("method")).toString();
        if (method == QLatin1String("OpenDevice"))
            opened = true;
        if (method != QLatin1String("Unmount"))
            continue;
        QVERIFY2(!opened, "a filesystem was unmounted after the device was opened");
        // Never forced: a forced unmount of a busy filesystem is lazy, and
        // the filesystem writes on after the image.
        QCOMPARE(call.value(QStringLiteral("args")).toArray(), (QJsonArray { QJsonObject() }));
    }
    QVERIFY(opened);
}

QTEST_GUILESS_MAIN(TestFakeAccess)
#include "tst_fakeaccess.moc"
