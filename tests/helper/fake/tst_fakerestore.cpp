// The restore job against the fake UDisks2 service: the wipe of both ends of
// the device, the order and arguments of the partitioning calls, and the
// status and text of every way it can fail.

#include "helperfixture.h"
#include "helperprocess.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QTest>

#include <algorithm>

namespace {

const QString kTarget = FakeUDisks2::blockPath(QStringLiteral("sdb"));
const QString kPartition = FakeUDisks2::blockPath(QStringLiteral("sdb1"));

// What is wiped at each end: 512 MiB, at most half the device (in whole
// 512-byte blocks, the logical block size of an ordinary file).
qint64 regionSize(qint64 deviceSize)
{
    return qMin(qint64(512) << 20, deviceSize / 2 / 512 * 512);
}

QJsonObject error(const QString &message)
{
    return { { QStringLiteral("error"), message } };
}

const QJsonObject kNoReply { { QStringLiteral("noReply"), true } };

// The restore writes a whole gigabyte; tmpfs keeps that off the disk.
QString scratchParent()
{
    const QFileInfo shm(QStringLiteral("/dev/shm"));
    return shm.isDir() && shm.isWritable() ? shm.filePath() : QDir::tempPath();
}

} // namespace

class TestFakeRestore : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void outcomes_data();
    void outcomes();
    void wipe_data();
    void wipe();

private:
    bool startFake(const QJsonObject &open, QJsonObject tableFormat, QJsonObject partitionTable,
                   const QJsonObject &partitionFormat, const QString &late = QString());
    [[nodiscard]] QStringList callSequence() const;

    HelperFixture m_fixture { scratchParent() + QStringLiteral("/flashwright-restore-XXXXXX") };
};

void TestFakeRestore::initTestCase()
{
    HELPER_FIXTURE_START(m_fixture, HelperFixture::NoXz);
}

void TestFakeRestore::cleanup()
{
    QFile::remove(m_fixture.device());
}

// late: "table" when UDisks2 shows the new table only a second after Format
// has returned, "partition" likewise for the new partition after
// CreatePartition, "no table" and "no partition" when they never show.
bool TestFakeRestore::startFake(const QJsonObject &open, QJsonObject tableFormat, QJsonObject partitionTable,
                                const QJsonObject &partitionFormat, const QString &late)
{
    const QString drive = FakeUDisks2::drivePath(QStringLiteral("d1"));
    const QJsonObject partition { { QStringLiteral("drive"), drive },
                                  { QStringLiteral("partitionOf"), kTarget },
                                  { QStringLiteral("filesystem"), QJsonObject() },
                                  { QStringLiteral("format"), partitionFormat } };
    QJsonObject blocks { { kPartition, partition } };
    if (late == QLatin1String("partition") || late == QLatin1String("no partition"))
        blocks.remove(kPartition);
    if (late == QLatin1String("partition")) {
        partitionTable.insert(QStringLiteral("creates"), partition);
        partitionTable.insert(QStringLiteral("createDelay"), 1);
    }
    QJsonObject target { { QStringLiteral("drive"), drive },
                         { QStringLiteral("partitionTable"), partitionTable },
                         { QStringLiteral("open"), open } };
    if (late == QLatin1String("table") || late == QLatin1String("no table"))
        target.remove(QStringLiteral("partitionTable"));
    if (late == QLatin1String("table")) {
        tableFormat.insert(QStringLiteral("adds"),
                           QJsonObject { { QStringLiteral("partitionTable"), partitionTable } });
        tableFormat.insert(QStringLiteral("addDelay"), 1);
    }
    target.insert(QStringLiteral("format"), tableFormat);
    blocks.insert(kTarget, target);
    return m_fixture.fake().start({ { QStringLiteral("blocks"), blocks } });
}

// The device calls in order, as "Method object".
QStringList TestFakeRestore::callSequence() const
{
    QStringList sequence;
    for (const QJsonObject &call : m_fixture.fake().calls()) {
        const QString method = call.value(QStringLiteral("method")).toString();
        if (method == QLatin1String("OpenDevice") || method == QLatin1String("Format")
            || method == QLatin1String("CreatePartition"))
            sequence.append(method + QLatin1Char(' ') + call.value(QStringLiteral("object")).toString());
    }
    return sequence;
}

void TestFakeRestore::outcomes_data()
{
    QTest::addColumn<QString>("device"); // empty: an ordinary file
    QTest::addColumn<QJsonObject>("tableFormat");
    QTest::addColumn<QJsonObject>("partitionTable");
    QTest::addColumn<QJsonObject>("partitionFormat");
    QTest::addColumn<QByteArray>("expectedErrors");
    QTest::addColumn<int>("expectedStatus");
    QTest::addColumn<QStringList>("expectedCalls");
    QTest::addColumn<QString>("late"); // see startFake()
    const auto row = [](const char *tag, const QString &device, const QJsonObject &tableFormat,
                        const QJsonObject &partitionTable, const QJsonObject &partitionFormat, const QByteArray &errors,
                        int status, const QStringList &calls, const QString &late) {
        QTest::newRow(tag) << device << tableFormat << partitionTable << partitionFormat << errors << status << calls
                           << late;
    };

    const QString open = QStringLiteral("OpenDevice ") + kTarget;
    const QString formatTable = QStringLiteral("Format ") + kTarget;
    const QString create = QStringLiteral("CreatePartition ") + kTarget;
    const QString formatPartition = QStringLiteral("Format ") + kPartition;
    const QJsonObject ok;
    const QJsonObject createsPartition { { QStringLiteral("partition"), kPartition } };
    const QString file;

    // What the bus says when UDisks2 goes away without answering; a call that
    // outlives its time-out ends alike, with NoReply.
    const QByteArray unanswered("Message recipient disconnected from message bus without replying\n");
    const QString now;

    // Writes vanish and the size reads as 0.
    row("device without size", "/dev/null", ok, createsPartition, ok, "Failed to get file size", 1, { open }, now);
    row("device that cannot seek", "pipe", ok, createsPartition, ok, "Failed to get file size", 1, { open }, now);
    row("partition table refused", file, error(QStringLiteral("Error creating partition table: device is busy")),
        createsPartition, ok, "Error creating partition table: device is busy\n", 1, { open, formatTable }, now);
    // No answer may mean a format still running, or refused in a polkit
    // dialog: never a success.
    row("table unanswered", file, kNoReply, createsPartition, ok, unanswered, 1, { open, formatTable }, now);
    row("partition refused", file, ok, error(QStringLiteral("Error creating partition: no free space")), ok,
        "Error creating partition: no free space", 2, { open, formatTable, create }, now);
    row("partition format refused", file, ok, createsPartition,
        error(QStringLiteral("Error creating filesystem: mkfs.exfat failed")),
        "Error creating filesystem: mkfs.exfat failed\n", 3, { open, formatTable, create, formatPartition }, now);
    row("partition format unanswered", file, ok, createsPartition, kNoReply, unanswered, 3,
        { open, formatTable, create, formatPartition }, now);
    row("restored", file, ok, createsPartition, ok, {}, 0, { open, formatTable, create, formatPartition }, now);
    // UDisks2 answers Format before it shows the table on the object, and
    // CreatePartition before the partition exists as an object.
    row("table shows late", file, ok, createsPartition, ok, {}, 0, { open, formatTable, create, formatPartition },
        "table");
    row("partition shows late", file, ok, createsPartition, ok, {}, 0, { open, formatTable, create, formatPartition },
        "partition");
    row("table never shows", file, ok, createsPartition, ok, "The new partition table did not appear on the drive.\n",
        1, { open, formatTable }, "no table");
    row("partition never shows", file, ok, createsPartition, ok, "The new partition did not appear on the drive.", 2,
        { open, formatTable, create }, "no partition");
}

void TestFakeRestore::outcomes()
{
    QFETCH(QString, device);
    QFETCH(QJsonObject, tableFormat);
    QFETCH(QJsonObject, partitionTable);
    QFETCH(QJsonObject, partitionFormat);
    QFETCH(QByteArray, expectedErrors);
    QFETCH(int, expectedStatus);
    QFETCH(QStringList, expectedCalls);
    QFETCH(QString, late);

    QJsonObject open;
    if (device == QLatin1String("pipe")) {
        open.insert(QStringLiteral("pipe"), true);
    } else if (device.isEmpty()) {
        QFile file(m_fixture.device());
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        QVERIFY(file.resize(8 << 20));
        open.insert(QStringLiteral("file"), m_fixture.device());
    } else {
        open.insert(QStringLiteral("file"), device);
    }
    QVERIFY2(startFake(open, tableFormat, partitionTable, partitionFormat, late),
             qPrintable(m_fixture.fake().errorString()));

    HelperProcess helper;
    QVERIFY2(helper.run({ QStringLiteral("restore"), kTarget }, 120000), qPrintable(helper.failure()));
    QCOMPARE(helper.errors(), expectedErrors);
    QCOMPARE(helper.exitCode(), expectedStatus);
    QCOMPARE(helper.output(), QByteArray());
    QCOMPARE(callSequence(), expectedCalls);

    for (const QJsonObject &call : m_fixture.fake().calls()) {
        const QString method = call.value(QStringLiteral("method")).toString();
        const QJsonArray args = call.value(QStringLiteral("args")).toArray();
        if (method == QLatin1String("CreatePartition")) {
            // Offset 1 and size 0: UDisks2 aligns the start and takes all free space.
            QCOMPARE(call.value(QStringLiteral("signature")).toString(), QStringLiteral("ttssa{sv}"));
            QCOMPARE(args, (QJsonArray { 1, 0, QString(), QString(), QJsonObject() }));
        } else if (method == QLatin1String("Format") && call.value(QStringLiteral("object")).toString() == kTarget) {
            QCOMPARE(args, (QJsonArray { QStringLiteral("gpt"), QJsonObject() }));
        } else if (method == QLatin1String("Format")) {
            QCOMPARE(args,
                     (QJsonArray { QStringLiteral("exfat"),
                                   QJsonObject { { QStringLiteral("update-partition-type"), true } } }));
            QCOMPARE(call.value(QStringLiteral("optionTypes")).toObject(),
                     (QJsonObject { { QStringLiteral("update-partition-type"), QStringLiteral("b") } }));
        }
    }
}

void TestFakeRestore::wipe_data()
{
    QTest::addColumn<qint64>("deviceSize");

    constexpr qint64 MiB = 1024 * 1024;
    QTest::newRow("more than twice the wipe") << 1032 * MiB;
    QTest::newRow("exactly twice the wipe: it all") << 1024 * MiB;
    // A small card is wiped half at each end, and restored.
    QTest::newRow("less than twice the wipe: half at each end") << 600 * MiB;
    QTest::newRow("a small card") << MiB;
    QTest::newRow("an odd number of blocks: the middle one stays") << MiB + 512;
}

void TestFakeRestore::wipe()
{
    QFETCH(qint64, deviceSize);
    const qint64 region = regionSize(deviceSize);

    // Marks at the edges of both wipe regions and of what lies between them.
    QList<qint64> offsets { 0, region - 1, region, deviceSize - region - 1, deviceSize - region, deviceSize - 1 };
    offsets.erase(std::remove_if(offsets.begin(), offsets.end(), [&](qint64 o) { return o < 0 || o >= deviceSize; }),
                  offsets.end());
    {
        QFile file(m_fixture.device());
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        QVERIFY(file.resize(deviceSize));
        for (qint64 offset : offsets) {
            QVERIFY(file.seek(offset));
            QVERIFY(file.putChar('\xab'));
        }
    }
    QVERIFY2(startFake({ { QStringLiteral("file"), m_fixture.device() } }, {},
                       { { QStringLiteral("partition"), kPartition } }, {}),
             qPrintable(m_fixture.fake().errorString()));

    HelperProcess helper;
    QVERIFY2(helper.run({ QStringLiteral("restore"), kTarget }, 120000), qPrintable(helper.failure()));
    QCOMPARE(helper.errors(), QByteArray());
    QCOMPARE(helper.exitCode(), 0);

    QFile file(m_fixture.device());
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.size(), deviceSize);
    for (qint64 offset : offsets) {
        const bool wiped = offset < region || offset >= deviceSize - region;
        QVERIFY(file.seek(offset));
        char c = 0;
        QVERIFY(file.getChar(&c));
        QVERIFY2(c == (wiped ? '\0' : '\xab'), qPrintable(QStringLiteral("byte at %1").arg(offset)));
    }
}

QTEST_GUILESS_MAIN(TestFakeRestore)
#include "tst_fakerestore.moc"
