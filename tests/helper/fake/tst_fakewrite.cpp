// The write job onto a "device" that the fake UDisks2 service hands out as an
// ordinary file (or /dev/full): the exact protocol lines, the bytes that end
// up on the device, verification, and every failure of the copy.

#include "helperfixture.h"
#include "helperprocess.h"
#include "testimages.h"

#include "filecontents.h"
#include "isoimage.h"
#include "programrun.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QProcess>
#include <QProcessEnvironment>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTest>

#include <unistd.h>

namespace {

const QString kTarget = FakeUDisks2::blockPath(QStringLiteral("sdb"));

bool isNumber(const QByteArray &line)
{
    bool ok = false;
    line.toLongLong(&ok);
    return ok && !line.isEmpty() && line.at(0) != '-' && line.at(0) != '+';
}

} // namespace

class TestFakeWrite : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void copies_data();
    void copies();
    void failures_data();
    void failures();
    void verification_data();
    void verification();
    void implantedOverManyBuffers_data();
    void implantedOverManyBuffers();
    void droppedWrites_data();
    void droppedWrites();
    void changedAfterWriting_data();
    void changedAfterWriting();
    void flushFails();

private:
    bool makeIsos(QString *why);

    HelperFixture m_fixture;
    QString m_iso;
    QString m_plainIso;
    QString m_damagedIso;
};

void TestFakeWrite::initTestCase()
{
    HELPER_FIXTURE_START(m_fixture, HelperFixture::NeedsXz);
}

void TestFakeWrite::init()
{
    QVERIFY(FileContents::write(m_fixture.device(), QByteArray()));
}

void TestFakeWrite::copies_data()
{
    QTest::addColumn<QString>("imageName");
    QTest::addColumn<QByteArray>("imageFile");
    QTest::addColumn<QByteArray>("deviceBefore");
    QTest::addColumn<QByteArray>("expectedDevice");
    QTest::addColumn<QList<QByteArray>>("expectedProgress"); // copy totals before "CHECK"
    QTest::addColumn<qint64>("sent"); // image bytes sent, which are read back after "CHECK"
    const auto row
        = [](const char *tag, const char *imageName, const QByteArray &imageFile, const QByteArray &deviceBefore,
             const QByteArray &expectedDevice, const QList<QByteArray> &expectedProgress, qint64 sent) {
              QTest::newRow(tag) << QString::fromLatin1(imageName) << imageFile << deviceBefore << expectedDevice
                                 << expectedProgress << sent;
          };

    const QByteArray small = FileContents::random(1000, 1);
    const QByteArray old(8192, '\xee');
    const auto number = [](qint64 n) { return QByteArray::number(n); };

    row("plain, shorter than a block", "image.img", small, {}, TestImages::padded(small), { "1000" }, small.size());
    row("plain, over older data", "image.iso", small, old, TestImages::padded(small) + old.mid(1024), { "1000" },
        small.size());
    const QByteArray blocks = FileContents::random(2048, 2);
    row("plain, whole blocks", "image.img", blocks, old, blocks + old.mid(2048), { "2048" }, blocks.size());
    const QByteArray large = FileContents::random(TestImages::bufferSize() + 1000, 3);
    row("plain, more than one buffer", "image.img", large, {}, TestImages::padded(large),
        { number(TestImages::bufferSize()), number(large.size()) }, large.size());

    // For xz images the totals count compressed bytes; the total is repeated
    // while the decoder drains, so repeats are folded before comparing.
    const QByteArray compressedSmall = FileContents::xz(small);
    row("xz", "image.img.xz", compressedSmall, old, TestImages::padded(small) + old.mid(1024),
        { number(compressedSmall.size()) }, small.size());
    const QByteArray pattern = TestImages::pattern(2 * TestImages::bufferSize() + 1000);
    const QByteArray compressedPattern = FileContents::xz(pattern);
    row("xz, more than one output buffer", "image.raw.xz", compressedPattern, {}, TestImages::padded(pattern),
        { number(compressedPattern.size()) }, pattern.size());
    // Many blocks with their sizes in the headers: decoded on several threads.
    const QByteArray blocksOfPattern = TestImages::pattern(6 * TestImages::bufferSize() + 3000);
    const QByteArray compressedBlocks
        = FileContents::xz(blocksOfPattern, { QStringLiteral("-T2"), QStringLiteral("--block-size=1MiB") });
    row("xz in many blocks", "image.raw.xz", compressedBlocks, {}, TestImages::padded(blocksOfPattern),
        { number(compressedBlocks.size()) }, blocksOfPattern.size());
    const QByteArray second = FileContents::random(3000, 4);
    const QByteArray concatenated = compressedSmall + FileContents::xz(second);
    row("xz, two concatenated streams", "image.img.xz", concatenated, {}, TestImages::padded(small + second),
        { number(concatenated.size()) }, qint64(small.size() + second.size()));
    // Random data does not compress: the compressed file spans two input buffers.
    const QByteArray noise = FileContents::random(TestImages::bufferSize() + 1000, 9);
    const QByteArray compressedNoise = FileContents::xz(noise, { QStringLiteral("-0") });
    row("xz, more than one input buffer", "image.img.xz", compressedNoise, {}, TestImages::padded(noise),
        { number(TestImages::bufferSize()), number(compressedNoise.size()) }, noise.size());
    row("upper-case XZ is copied as it is", "image.img.XZ", compressedSmall, {}, TestImages::padded(compressedSmall),
        { number(compressedSmall.size()) }, compressedSmall.size());
}

void TestFakeWrite::copies()
{
    QFETCH(QString, imageName);
    QFETCH(QByteArray, imageFile);
    QFETCH(QByteArray, deviceBefore);
    QFETCH(QByteArray, expectedDevice);
    QFETCH(QList<QByteArray>, expectedProgress);
    QFETCH(qint64, sent);

    const QString image = m_fixture.filePath(imageName);
    QVERIFY(FileContents::write(image, imageFile));
    QVERIFY(FileContents::write(m_fixture.device(), deviceBefore));
    QVERIFY2(m_fixture.startFake(m_fixture.device()), qPrintable(m_fixture.fake().errorString()));

    HelperProcess helper;
    QVERIFY2(helper.run({ QStringLiteral("write"), image, kTarget }), qPrintable(helper.failure()));
    QCOMPARE(helper.errors(), QByteArray("OK\n"));
    QCOMPARE(helper.exitCode(), 0);

    QList<QByteArray> lines = helper.outputLines();
    QVERIFY2(helper.output().endsWith('\n'), helper.output().constData());
    if (imageName.endsWith(QLatin1String(".xz")))
        lines.erase(std::unique(lines.begin(), lines.end()), lines.end());
    QCOMPARE(lines,
             expectedProgress + QList<QByteArray> { "CHECK" } + TestImages::readBackOffsets(sent)
                 + QList<QByteArray> { "DONE" });
    QCOMPARE(FileContents::read(m_fixture.device()), expectedDevice);
    QFile::remove(image);
}

void TestFakeWrite::failures_data()
{
    QTest::addColumn<QString>("imageName");
    QTest::addColumn<QByteArray>("imageFile");
    QTest::addColumn<QString>("kind"); // "file", "directory", "missing" or a symbolic link's target
    QTest::addColumn<QString>("device");
    QTest::addColumn<QByteArray>("expectedErrors"); // "%1" stands for the image path
    QTest::addColumn<int>("expectedStatus");
    // -1: nothing at all on standard output; with status 2 also nothing
    // asked of UDisks2: the image was refused before the drive was touched.
    QTest::addColumn<int>("minimumProgress");
    const auto row = [](const char *tag, const QString &imageName, const QByteArray &imageFile,
                        const QString &imageKind, const QString &device, const QByteArray &errors, int status,
                        int minimumProgress) {
        QTest::newRow(tag) << imageName << imageFile << imageKind << device << errors << status << minimumProgress;
    };

    const QByteArray notReadable("Source image is not readable%1");
    const QString file = QStringLiteral("file");
    const QString ordinary; // the test's device file
    const QString full = QStringLiteral("/dev/full");
    const QByteArray small = FileContents::random(1000, 5);

    const QByteArray empty("The image is empty: there is nothing to write.");
    const QByteArray incomplete("The image file is incomplete: it is shorter than the ISO volume it describes.");
    const QByteArray cutIso = TestImages::isoStart(8 << 20);

    row("missing image", "missing.img", {}, "missing", ordinary, notReadable, 2, -1);
    row("image is a directory", "folder.iso", {}, "directory", ordinary, notReadable, 2, -1);
    row("missing xz image", "missing.img.xz", {}, "missing", ordinary, notReadable, 2, -1);
    row("xz image is a directory", "folder.img.xz", {}, "directory", ordinary, notReadable, 2, -1);
    row("reading the image fails", "memory.img", {}, "/proc/self/mem", ordinary, "Source image is not readable", 3, -1);
    row("reading the xz image fails", "memory.img.xz", {}, "/proc/self/mem", ordinary, "Source image is not readable",
        3, -1);
    row("device full", "image.img", small, file, full, "Destination drive is not writable", 3, -1);
    row("device full, xz", "image.img.xz", FileContents::xz(small), file, full, "Destination drive is not writable", 3,
        0);
    row("random bytes named xz", "image.img.xz", FileContents::random(65536, 6), file, ordinary,
        "The downloaded compressed file is corrupted.", 4, 1);
    row("truncated xz", "image.img.xz", FileContents::xz(FileContents::random(100000, 7)).left(50000), file, ordinary,
        "The downloaded compressed file is corrupted.", 4, 1);
    row("empty image", "empty.img", {}, file, ordinary, empty, 2, -1);
    row("xz that decodes to nothing", "empty.img.xz", FileContents::xz(QByteArray()), file, ordinary, empty, 2, -1);
    // An interrupted download of an ISO.
    row("ISO shorter than its volume", "cut.iso", cutIso, file, ordinary, incomplete, 2, -1);
    // Its volume is known once the start is decoded, before it is written.
    row("xz of an ISO shorter than its volume", "cut.iso.xz", FileContents::xz(cutIso), file, ordinary, incomplete, 2,
        0);
    // A 512 MiB dictionary: the decoder would need more than its 256 MiB limit.
    row("xz needing too much memory", "image.img.xz",
        FileContents::xz(small, { QStringLiteral("--lzma2=preset=1,dict=400MiB") }), file, ordinary,
        "Unknown decompression error.", 4, 0);
}

void TestFakeWrite::failures()
{
    QFETCH(QString, imageName);
    QFETCH(QByteArray, imageFile);
    QFETCH(QString, kind);
    QFETCH(QString, device);
    QFETCH(QByteArray, expectedErrors);
    QFETCH(int, expectedStatus);
    QFETCH(int, minimumProgress);

    const QString image = m_fixture.filePath(imageName);
    if (kind == QLatin1String("file")) {
        QVERIFY(FileContents::write(image, imageFile));
    } else if (kind == QLatin1String("directory")) {
        QVERIFY(QDir(m_fixture.path()).mkpath(imageName));
    } else if (kind != QLatin1String("missing")) {
        QVERIFY(QFile::link(kind, image));
    }
    QVERIFY2(m_fixture.startFake(device.isEmpty() ? m_fixture.device() : device),
             qPrintable(m_fixture.fake().errorString()));

    HelperProcess helper;
    QVERIFY2(helper.run({ QStringLiteral("write"), image, kTarget }), qPrintable(helper.failure()));
    QCOMPARE(helper.errors(), expectedErrors.replace("%1", image.toUtf8()));
    QCOMPARE(helper.exitCode(), expectedStatus);

    const QList<QByteArray> lines = helper.outputLines();
    if (minimumProgress < 0) {
        QCOMPARE(helper.output(), QByteArray());
    } else {
        // Only copy totals: a failed copy is never verified.
        QVERIFY2(lines.size() >= minimumProgress, helper.output().constData());
        for (const QByteArray &line : lines)
            QVERIFY2(isNumber(line), line.constData());
    }
    if (device.isEmpty() && expectedStatus == 2)
        QCOMPARE(QFileInfo(m_fixture.device()).size(), 0);
    if (expectedStatus == 2 && minimumProgress < 0)
        QCOMPARE(m_fixture.fake().calls().size(), 0);

    if (kind == QLatin1String("directory"))
        QDir(image).removeRecursively();
    else
        QFile::remove(image);
}

bool TestFakeWrite::makeIsos(QString *why)
{
    if (!m_iso.isEmpty())
        return true;
    if (QStandardPaths::findExecutable(QStringLiteral("xorriso")).isEmpty()
        || QStandardPaths::findExecutable(QStringLiteral("implantisomd5")).isEmpty()) {
        *why = QStringLiteral("xorriso and implantisomd5 (isomd5sum) are needed for the ISO images");
        return false;
    }
    const QString tree = m_fixture.filePath(QStringLiteral("tree"));
    QDir().mkpath(tree);
    const QByteArray marker = QByteArray("FLASHWRIGHT-MARKER-").repeated(100);
    if (!FileContents::write(tree + QStringLiteral("/data.bin"), FileContents::random(600 * 1024, 8))
        || !FileContents::write(tree + QStringLiteral("/marker.txt"), marker)) {
        *why = QStringLiteral("cannot write the ISO tree");
        return false;
    }
    const auto run = [](const QString &program, const QStringList &arguments) {
        return ProgramRun(program, arguments).run().succeeded();
    };
    const QString plain = m_fixture.filePath(QStringLiteral("plain.iso"));
    const QString implanted = m_fixture.filePath(QStringLiteral("implanted.iso"));
    if (!run(QStringLiteral("xorriso"),
             { QStringLiteral("-as"), QStringLiteral("mkisofs"), QStringLiteral("-quiet"), QStringLiteral("-o"), plain,
               tree })
        || !QFile::copy(plain, implanted) || !run(QStringLiteral("implantisomd5"), { implanted })) {
        *why = QStringLiteral("making the ISO images failed");
        return false;
    }
    // One changed byte in a file's data: the implanted checksum no longer fits.
    QByteArray damaged = FileContents::read(implanted);
    const qsizetype at = damaged.indexOf(marker.left(40));
    if (at < 0) {
        *why = QStringLiteral("the marker is not in the ISO");
        return false;
    }
    damaged[at + 5] = 'x';
    m_damagedIso = m_fixture.filePath(QStringLiteral("damaged.iso"));
    if (!FileContents::write(m_damagedIso, damaged)) {
        *why = QStringLiteral("cannot write the damaged ISO");
        return false;
    }
    // The reference tool must agree with what the rows expect.
    if (!QStandardPaths::findExecutable(QStringLiteral("checkisomd5")).isEmpty()
        && (!run(QStringLiteral("checkisomd5"), { implanted })
            || run(QStringLiteral("checkisomd5"), { m_damagedIso }))) {
        *why = QStringLiteral("checkisomd5 disagrees with the prepared images");
        return false;
    }
    m_plainIso = plain;
    m_iso = implanted;
    return true;
}

void TestFakeWrite::verification_data()
{
    QTest::addColumn<QString>("which");
    QTest::addColumn<QByteArray>("expectedErrors");
    QTest::addColumn<int>("expectedStatus");

    QTest::newRow("implanted checksum matches") << "implanted" << QByteArray("OK\n") << 0;
    QTest::newRow("written data differs from the checksum")
        << "damaged"
        << QByteArray("The image does not match the checksum implanted in it: the image file is damaged.\n") << 1;
    QTest::newRow("no implanted checksum") << "plain" << QByteArray("OK\n") << 0;
}

void TestFakeWrite::verification()
{
    QFETCH(QString, which);
    QFETCH(QByteArray, expectedErrors);
    QFETCH(int, expectedStatus);

    QString why;
    if (!makeIsos(&why))
        QSKIP(qPrintable(why));
    const QString image = which == QLatin1String("implanted") ? m_iso
        : which == QLatin1String("damaged")                   ? m_damagedIso
                                                              : m_plainIso;
    const QByteArray content = FileContents::read(image);
    QVERIFY2(m_fixture.startFake(m_fixture.device()), qPrintable(m_fixture.fake().errorString()));

    HelperProcess helper;
    QVERIFY2(helper.run({ QStringLiteral("write"), image, kTarget }), qPrintable(helper.failure()));
    QCOMPARE(helper.errors(), expectedErrors);
    QCOMPARE(helper.exitCode(), expectedStatus);
    QCOMPARE(FileContents::read(m_fixture.device()), content);

    const QList<QByteArray> lines = helper.outputLines();
    const qsizetype check = lines.indexOf("CHECK");
    QVERIFY2(check == 1, helper.output().constData());
    QCOMPARE(lines.constFirst(), QByteArray::number(content.size()));
    const QList<QByteArray> afterCheck = lines.mid(check + 1);
    if (which == QLatin1String("plain")) {
        // Read back in full, not measured against a checksum.
        QCOMPARE(afterCheck, TestImages::readBackOffsets(content.size()) + QList<QByteArray> { "DONE" });
        return;
    }
    QVERIFY2(!afterCheck.isEmpty(), "no verification progress");
    const bool done = afterCheck.constLast() == "DONE";
    QCOMPARE(done, expectedStatus == 0);
    const QList<QByteArray> offsets = done ? afterCheck.mid(0, afterCheck.size() - 1) : afterCheck;
    QVERIFY2(!offsets.isEmpty(), "no verification progress");
    qint64 previous = 0;
    for (const QByteArray &line : offsets) {
        QVERIFY2(isNumber(line), line.constData());
        QVERIFY2(line.toLongLong() >= previous, "verification offsets went backwards");
        previous = line.toLongLong();
    }
    if (done)
        QCOMPARE(previous, qint64(content.size()));
}

// An ISO of many buffers, whose implanted check runs on the bytes sent
// (plain) or read back (xz): checkisomd5's verdict, wherever the damage lies.
void TestFakeWrite::implantedOverManyBuffers_data()
{
    QTest::addColumn<bool>("compressed");
    QTest::addColumn<double>("damageAt"); // where in the checked range, or none when negative
    QTest::addColumn<QByteArray>("expectedErrors");

    const QByteArray damaged("The image does not match the checksum implanted in it: the image file is damaged.\n");
    QTest::newRow("intact") << false << -1.0 << QByteArray("OK\n");
    QTest::newRow("damaged in the first buffer") << false << 0.05 << damaged;
    QTest::newRow("damaged near the end of the checked range") << false << 0.99 << damaged;
    QTest::newRow("xz, intact") << true << -1.0 << QByteArray("OK\n");
    QTest::newRow("xz, damaged near the end of the checked range") << true << 0.99 << damaged;
}

void TestFakeWrite::implantedOverManyBuffers()
{
    QFETCH(bool, compressed);
    QFETCH(double, damageAt);
    QFETCH(QByteArray, expectedErrors);
    if (const QString missing = IsoImage::missingTools(); !missing.isEmpty())
        QSKIP(qPrintable(QStringLiteral("needs %1 for the ISO images").arg(missing)));

    QString image = m_fixture.filePath(QStringLiteral("buffers.iso"));
    QVERIFY(IsoImage::make(image, 5 * TestImages::bufferSize() + 12345, 25));
    QVERIFY(IsoImage::implant(image));
    if (damageAt >= 0) {
        const qint64 checked = IsoImage::volumeSize(image) - IsoImage::SkippedBytes;
        QVERIFY(IsoImage::flipByte(image, qint64(double(checked) * damageAt)));
    }
    QCOMPARE(int(IsoImage::referenceVerdict(image)), damageAt >= 0 ? int(IsoImage::Fail) : int(IsoImage::Pass));
    const QByteArray content = FileContents::read(image);
    if (compressed) {
        image += QStringLiteral(".xz");
        QVERIFY(FileContents::write(image, FileContents::xz(content, { QStringLiteral("-0") })));
    }
    QVERIFY2(m_fixture.startFake(m_fixture.device()), qPrintable(m_fixture.fake().errorString()));

    HelperProcess helper;
    QVERIFY2(helper.run({ QStringLiteral("write"), image, kTarget }), qPrintable(helper.failure()));
    QCOMPARE(helper.errors(), expectedErrors);
    QCOMPARE(helper.exitCode(), damageAt >= 0 ? 1 : 0);
    QCOMPARE(FileContents::read(m_fixture.device()), content);
    const QList<QByteArray> lines = helper.outputLines();
    const QList<QByteArray> readBack = lines.mid(lines.indexOf("CHECK") + 1);
    QCOMPARE(readBack,
             TestImages::readBackOffsets(content.size())
                 + (damageAt >= 0 ? QList<QByteArray>() : QList<QByteArray> { "DONE" }));
}

// A drive that takes every write and keeps nothing (/dev/null reads back
// empty): verification must fail, whichever way the image is checked.
void TestFakeWrite::droppedWrites_data()
{
    QTest::addColumn<QString>("imageName");
    QTest::addColumn<QByteArray>("imageFile"); // "implanted": the ISO with an implanted checksum
    QTest::addColumn<QByteArray>("expectedErrors");
    QTest::addColumn<int>("expectedStatus");

    const QByteArray readBackFailed("Verification failed: the data read back from the drive differs from the image.\n");
    const QByteArray raw = FileContents::random(TestImages::bufferSize() + 5000, 20);
    QTest::newRow("raw image") << "image.img" << raw << readBackFailed << 1;
    QTest::newRow("xz image") << "image.img.xz" << FileContents::xz(raw, { QStringLiteral("-0") }) << readBackFailed
                              << 1;
    QTest::newRow("ISO with an implanted checksum") << "implanted" << QByteArray() << readBackFailed << 1;
}

void TestFakeWrite::droppedWrites()
{
    QFETCH(QString, imageName);
    QFETCH(QByteArray, imageFile);
    QFETCH(QByteArray, expectedErrors);
    QFETCH(int, expectedStatus);

    QString image = m_fixture.filePath(imageName);
    if (imageName == QLatin1String("implanted")) {
        QString why;
        if (!makeIsos(&why))
            QSKIP(qPrintable(why));
        image = m_iso;
    } else {
        QVERIFY(FileContents::write(image, imageFile));
    }
    QVERIFY2(m_fixture.startFake(QStringLiteral("/dev/null")), qPrintable(m_fixture.fake().errorString()));

    HelperProcess helper;
    QVERIFY2(helper.run({ QStringLiteral("write"), image, kTarget }), qPrintable(helper.failure()));
    QCOMPARE(helper.errors(), expectedErrors);
    QCOMPARE(helper.exitCode(), expectedStatus);
    const QList<QByteArray> lines = helper.outputLines();
    QVERIFY2(lines.contains("CHECK"), helper.output().constData());
    QCOMPARE(lines.constLast() == "DONE", expectedStatus == 0);
}

// The device is changed behind the helper's back once it has written it
// (a few bytes near the end of what the read-back reaches): the bytes read
// back are compared, not assumed. An implanted checksum vouches only for the
// ISO volume without its last 15 sectors, not for what a hybrid image
// appends after the volume (often its EFI system partition).
void TestFakeWrite::changedAfterWriting_data()
{
    QTest::addColumn<QString>("kind"); // "raw", "after the volume", "skipped sectors" or "inside the volume"
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("expectedErrors");

    const QString readBack("Verification failed: the data read back from the drive differs from the image.\n");
    QTest::newRow("C locale") << "raw"
                              << "C" << readBack;
    QTest::newRow("Russian") << "raw"
                             << "ru_RU.UTF-8"
                             << QStringLiteral(
                                    "Проверка не пройдена: данные, прочитанные с накопителя, отличаются от образа.\n");
    QTest::newRow("ISO, after its volume") << "after the volume"
                                           << "C" << readBack;
    QTest::newRow("ISO, in its skipped sectors") << "skipped sectors"
                                                 << "C" << readBack;
    // Where the implanted checksum fails too, the drive is to blame, not the image.
    QTest::newRow("ISO, inside its volume") << "inside the volume"
                                            << "C" << readBack;
}

void TestFakeWrite::changedAfterWriting()
{
    QFETCH(QString, kind);
    QFETCH(QString, locale);
    QFETCH(QString, expectedErrors);

    // Large enough that the read-back is still far from the change when the
    // test, woken by "CHECK", makes it.
    const QString image = m_fixture.filePath(QStringLiteral("changed.img"));
    QByteArray content;
    qint64 changeAt = 0;
    if (kind == QLatin1String("raw")) {
        content = FileContents::random(48 * 1048576 + 700, 21);
        changeAt = content.size() - 100;
    } else {
        if (const QString missing = IsoImage::missingTools(); !missing.isEmpty())
            QSKIP(qPrintable(QStringLiteral("needs %1 for the ISO images").arg(missing)));
        const bool appended = kind == QLatin1String("after the volume");
        QVERIFY(IsoImage::make(image, (appended ? 24 : 48) * 1048576, 22));
        QVERIFY(IsoImage::implant(image));
        const qint64 volume = IsoImage::volumeSize(image);
        content = FileContents::read(image);
        QCOMPARE(qint64(content.size()), volume);
        if (appended)
            content += FileContents::random(24 * 1048576 + 700, 23);
        changeAt = appended                            ? content.size() - 100
            : kind == QLatin1String("skipped sectors") ? volume - 1000
                                                       : volume - IsoImage::SkippedBytes - 1000;
    }
    QVERIFY(FileContents::write(image, content));
    // Read back once, 4 MiB at a time, for both checks.
    const QList<QByteArray> offsets = TestImages::readBackOffsets(content.size());
    QVERIFY2(m_fixture.startFake(m_fixture.device()), qPrintable(m_fixture.fake().errorString()));

    // A loaded machine may let the helper read past the change before it is
    // made; it then rightly passes. That must not happen every time.
    for (int attempt = 1; attempt <= 3; ++attempt) {
        QVERIFY(FileContents::write(m_fixture.device(), QByteArray()));
        HelperProcess helper;
        QProcessEnvironment environment = helper.processEnvironment();
        environment.insert(QStringLiteral("LANG"), locale);
        environment.insert(QStringLiteral("LC_ALL"), locale);
        helper.setProcessEnvironment(environment);
        QVERIFY2(helper.launch({ QStringLiteral("write"), image, kTarget }), qPrintable(helper.failure()));
        QVERIFY2(helper.waitForLine("CHECK"), helper.output().constData());
        QFile device(m_fixture.device());
        QVERIFY(device.open(QIODevice::ReadWrite));
        QVERIFY(device.seek(changeAt));
        QCOMPARE(device.write("changed"), qint64(7));
        device.close();
        QVERIFY2(helper.finish(), qPrintable(helper.failure()));

        const QList<QByteArray> lines = helper.outputLines();
        if (helper.exitCode() == 0 && lines.constLast() == "DONE") {
            qWarning("attempt %d: the read-back passed the change before it was made", attempt);
            continue;
        }
        QCOMPARE(QString::fromUtf8(helper.errors()), expectedErrors);
        QCOMPARE(helper.exitCode(), 1);
        // Every byte was read back before the verdict, and the offsets say so.
        const qsizetype check = lines.indexOf("CHECK");
        QCOMPARE(lines.mid(check + 1), offsets);
        return;
    }
    QFAIL("the change after writing was never noticed");
}

// A drive that takes the writes into the page cache and fails them when
// they are flushed: the copy has failed, although every write returned. A
// loop device of 64 MiB over a tmpfs of 4 MiB, opened without O_DIRECT.
void TestFakeWrite::flushFails()
{
    if (geteuid() != 0 || QStandardPaths::findExecutable(QStringLiteral("losetup")).isEmpty())
        QSKIP("needs root and losetup for a loop device");
    const QString medium = m_fixture.filePath(QStringLiteral("medium"));
    QVERIFY(QDir().mkpath(medium));
    QCOMPARE(QProcess::execute(QStringLiteral("mount"),
                               { QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"),
                                 QStringLiteral("size=4m"), QStringLiteral("tmpfs"), medium }),
             0);
    auto unmount = qScopeGuard([&] { QProcess::execute(QStringLiteral("umount"), { QStringLiteral("-l"), medium }); });
    QFile backing(medium + QStringLiteral("/backing"));
    QVERIFY(backing.open(QIODevice::WriteOnly) && backing.resize(64 << 20));
    backing.close();
    const ProgramResult losetup = ProgramRun(QStringLiteral("losetup"),
                                             { QStringLiteral("--find"), QStringLiteral("--show"), backing.fileName() })
                                      .run();
    QVERIFY2(losetup.succeeded(), qPrintable(losetup.describe()));
    const QString node = QString::fromLocal8Bit(losetup.standardOutput).trimmed();
    auto detach = qScopeGuard([&] { QProcess::execute(QStringLiteral("losetup"), { QStringLiteral("-d"), node }); });

    const QString image = m_fixture.filePath(QStringLiteral("flushed.img"));
    QVERIFY(FileContents::write(image, FileContents::random(16 << 20, 24)));
    QVERIFY2(m_fixture.startFake(node), qPrintable(m_fixture.fake().errorString()));
    HelperProcess helper;
    QVERIFY2(helper.run({ QStringLiteral("write"), image, kTarget }), qPrintable(helper.failure()));
    QCOMPARE(helper.errors(), QByteArray("Destination drive is not writable"));
    QCOMPARE(helper.exitCode(), 3);
    QVERIFY2(!helper.outputLines().contains("CHECK"), helper.output().constData());
}

QTEST_GUILESS_MAIN(TestFakeWrite)
#include "tst_fakewrite.moc"
