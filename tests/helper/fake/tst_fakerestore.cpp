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

#include <unistd.h>

namespace {

const QString kTarget = FakeUDisks2::blockPath(QStringLiteral("sdb"));
const QString kPartition = FakeUDisks2::blockPath(QStringLiteral("sdb1"));

// One wipe region: 128 blocks of 1024 pages.
qint64 regionSize()
{
    return qint64(getpagesize()) * 1024 * 128;
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
    bool startFake(const QJsonObject &open, const QJsonObject &tableFormat, const QJsonObject &partitionTable,
                   const QJsonObject &partitionFormat);
    [[nodiscard]] QStringList callSequence() const;

    HelperFixture m_fixture { scratchParent() + QStringLiteral("/flashwright-restore-XXXXXX") };
};

void TestFakeRestore::initTestCase()
{
    QString why;
    const HelperFixture::Outcome outcome = m_fixture.start(HelperFixture::NoXz, &why);
    if (outcome == HelperFixture::Unavailable)
        QSKIP(qPrintable(why));
    QVERIFY2(outcome == HelperFixture::Ready, qPrintable(why));
}

void TestFakeRestore::cleanup()
{
    QFile::remove(m_fixture.device());
}

bool TestFakeRestore::startFake(const QJsonObject &open, const QJsonObject &tableFormat,
                                const QJsonObject &partitionTable, const QJsonObject &partitionFormat)
{
    const QString drive = FakeUDisks2::drivePath(QStringLiteral("d1"));
    const QJsonObject target { { QStringLiteral("drive"), drive },
                               { QStringLiteral("partitionTable"), partitionTable },
                               { QStringLiteral("open"), open },
                               { QStringLiteral("format"), tableFormat } };
    const QJsonObject partition { { QStringLiteral("drive"), drive },
                                  { QStringLiteral("partitionOf"), kTarget },
                                  { QStringLiteral("filesystem"), QJsonObject() },
                                  { QStringLiteral("format"), partitionFormat } };
    return m_fixture.fake().start(
        { { QStringLiteral("blocks"), QJsonObject { { kTarget, target }, { kPartition, partition } } } });
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

    const QString open = QStringLiteral("OpenDevice ") + kTarget;
    const QString formatTable = QStringLiteral("Format ") + kTarget;
    const QString create = QStringLiteral("CreatePartition ") + kTarget;
    const QString formatPartition = QStringLiteral("Format ") + kPartition;
    const QJsonObject ok;
    const QJsonObject createsPartition { { QStringLiteral("partition"), kPartition } };
    const QString file;

    QTest::newRow("device refuses writes")
        << "/dev/full" << ok << createsPartition << ok << QByteArray("Destination drive is not writable") << 1
        << QStringList { open };
    // Writes vanish and the size reads as 0: smaller than one wipe region.
    QTest::newRow("device without size") << "/dev/null" << ok << createsPartition << ok
                                         << QByteArray("File size is smaller than 128 blocks") << 1
                                         << QStringList { open };
    QTest::newRow("device that cannot seek")
        << "pipe" << ok << createsPartition << ok << QByteArray("Failed to get file size") << 1 << QStringList { open };
    QTest::newRow("partition table refused")
        << file << error(QStringLiteral("Error creating partition table: device is busy")) << createsPartition << ok
        << QByteArray("Error creating partition table: device is busy\n") << 1 << QStringList { open, formatTable };
    QTest::newRow("table unanswered counts as done; partition refused")
        << file << kNoReply << error(QStringLiteral("Error creating partition: no free space")) << ok
        << QByteArray("Error creating partition: no free space") << 2 << QStringList { open, formatTable, create };
    QTest::newRow("partition format refused")
        << file << ok << createsPartition << error(QStringLiteral("Error creating filesystem: mkfs.exfat failed"))
        << QByteArray("Error creating filesystem: mkfs.exfat failed\n") << 3
        << QStringList { open, formatTable, create, formatPartition };
    QTest::newRow("partition format unanswered counts as done")
        << file << ok << createsPartition << kNoReply << QByteArray() << 0
        << QStringList { open, formatTable, create, formatPartition };
    QTest::newRow("restored") << file << ok << createsPartition << ok << QByteArray() << 0
                              << QStringList { open, formatTable, create, formatPartition };
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

    QJsonObject open;
    if (device == QLatin1String("pipe")) {
        open.insert(QStringLiteral("pipe"), true);
    } else if (device.isEmpty()) {
        QFile file(m_fixture.device());
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        open.insert(QStringLiteral("file"), m_fixture.device());
    } else {
        open.insert(QStringLiteral("file"), device);
    }
    QVERIFY2(startFake(open, tableFormat, partitionTable, partitionFormat), qPrintable(m_fixture.fake().errorString()));

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

    QTest::newRow("one region more than twice") << 2 * regionSize() + 8 * 1024 * 1024;
    QTest::newRow("exactly one region: both wipes cover it all") << regionSize();
    QTest::newRow("between one and two regions: the wipes overlap") << regionSize() + regionSize() / 2;
    // A real device this small fails the first wipe (see "device refuses
    // writes"); an ordinary file grows instead, to exactly one region.
    QTest::newRow("smaller than one region: the file grows") << qint64(1024 * 1024);
}

void TestFakeRestore::wipe()
{
    QFETCH(qint64, deviceSize);
    const qint64 region = regionSize();

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
    QCOMPARE(file.size(), std::max(deviceSize, region));
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
