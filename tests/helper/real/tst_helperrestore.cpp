#include "udisksfixture.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>
#include <QtTest>

// A restore turns a written drive back into an empty data drive: both ends
// wiped, a GPT table, one exFAT partition over the rest.
class TestHelperRestore : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void restoresOneExfatPartition_data();
    void restoresOneExfatPartition();

private:
    UdisksFixture m_fixture;
};

namespace {
constexpr qint64 MiB = 1024 * 1024;
constexpr qint64 sector = 512;

// A sector that no tool writes by chance: what the drive held before.
QByteArray oldSector()
{
    QByteArray data;
    while (data.size() < sector)
        data += "old live image data ";
    return data.left(sector);
}
} // namespace

void TestHelperRestore::initTestCase()
{
    if (!m_fixture.skipReason().isEmpty())
        QSKIP(qPrintable(m_fixture.skipReason()));
    if (QStandardPaths::findExecutable(QStringLiteral("mkfs.exfat")).isEmpty()
        || QStandardPaths::findExecutable(QStringLiteral("sfdisk")).isEmpty()
        || QStandardPaths::findExecutable(QStringLiteral("blkid")).isEmpty())
        QSKIP("mkfs.exfat (exfatprogs), sfdisk (fdisk) and blkid (util-linux) are needed");
}

void TestHelperRestore::restoresOneExfatPartition_data()
{
    QTest::addColumn<qint64>("size");

    // 512 MiB are wiped at each end, never more than half the drive: on
    // drives up to 1 GiB every sector of the old content must go.
    QTest::newRow("600 MiB, half at each end") << 600 * MiB;
    QTest::newRow("a small card of 64 MiB") << 64 * MiB;
}

void TestHelperRestore::restoresOneExfatPartition()
{
    QFETCH(qint64, size);
    const UdisksFixture::LoopDevice device = m_fixture.attach(size);
    QVERIFY2(device.isValid(), qPrintable(m_fixture.errorString()));
    const QByteArray old = oldSector();
    QByteArray chunk;
    for (int i = 0; i < 2048; ++i)
        chunk += old;
    // The first and last MiB completely, and the start of every other MiB.
    QVERIFY(UdisksFixture::writeDevice(device.node, 0, chunk));
    QVERIFY(UdisksFixture::writeDevice(device.node, size - MiB, chunk));
    for (qint64 offset = MiB; offset < size - MiB; offset += MiB)
        QVERIFY(UdisksFixture::writeDevice(device.node, offset, old));

    const auto result = m_fixture.runHelper({ QStringLiteral("restore"), device.objectPath });
    QCOMPARE(result.exitStatus, QProcess::NormalExit);
    QCOMPARE(result.standardError, QByteArray());
    QCOMPARE(result.exitCode, 0);
    QCOMPARE(result.standardOutput, QByteArray());

    QByteArray json;
    QVERIFY2(m_fixture.run(QStringLiteral("sfdisk"), { QStringLiteral("--json"), device.node }, &json),
             qPrintable(m_fixture.errorString()));
    const QJsonObject table = QJsonDocument::fromJson(json).object().value(QStringLiteral("partitiontable")).toObject();
    QCOMPARE(table.value(QStringLiteral("label")).toString(), QStringLiteral("gpt"));
    const QJsonArray partitions = table.value(QStringLiteral("partitions")).toArray();
    QCOMPARE(partitions.size(), 1);
    const qint64 start = partitions.at(0).toObject().value(QStringLiteral("start")).toInteger() * sector;
    const qint64 length = partitions.at(0).toObject().value(QStringLiteral("size")).toInteger() * sector;
    QVERIFY(start > 0);
    QVERIFY2(start + length > size - 2 * MiB, "the partition does not cover the drive");

    // The kernel here parses no partition tables: probe the filesystem at the
    // partition's offset on the whole device.
    QByteArray probe;
    QVERIFY2(m_fixture.run(QStringLiteral("blkid"),
                           { QStringLiteral("-p"), QStringLiteral("-o"), QStringLiteral("export"), QStringLiteral("-O"),
                             QString::number(start), device.node },
                           &probe),
             qPrintable(m_fixture.errorString()));
    QVERIFY2(probe.contains("TYPE=exfat\n"), probe.constData());

    // Nothing of the old content is left; what is not zero lies where GPT
    // writes (its first and last 34 sectors) or at the start of the exFAT
    // volume (boot region, allocation table, bitmap, up-case table, root).
    const QByteArray content = UdisksFixture::readDevice(device.node, 0, size);
    QCOMPARE(content.size(), size);
    const QByteArray zeros(sector, '\0');
    for (qint64 offset = 0; offset < size; offset += sector) {
        const QByteArray data = QByteArray::fromRawData(content.constData() + offset, sector);
        QVERIFY2(data != old, qPrintable(QStringLiteral("old content left at %1").arg(offset)));
        if (data == zeros)
            continue;
        const bool gpt = offset < 34 * sector || offset >= size - 34 * sector;
        const bool exfat = offset >= start && offset < start + 16 * MiB;
        QVERIFY2(gpt || exfat, qPrintable(QStringLiteral("unexpected data at %1").arg(offset)));
    }

    m_fixture.detach(device);
}

QTEST_GUILESS_MAIN(TestHelperRestore)
#include "tst_helperrestore.moc"
