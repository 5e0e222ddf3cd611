#include "buildpaths.h"
#include "filecontents.h"
#include "isoimage.h"
#include "programrun.h"
#include "udisksfixture.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

// Writes through the helper onto a loop device served by the real udisksd,
// then reads the device back.
class TestHelperWrite : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanupTestCase();

    void plain_data();
    void plain();
    void compressed_data();
    void compressed();
    void debianImages_data();
    void debianImages();
    void iso_data();
    void iso();
    void delayed_data();
    void delayed();
    void delayedPartialGoneWithoutImage();
    void refusedImages_data();
    void refusedImages();
    void imageLargerThanDrive();
    void deviceIsNoUdisksObject();
    void unreadableImage_data();
    void unreadableImage();

private:
    QString writeFile(const QString &name, const QByteArray &content);
    void compareDevice(const QByteArray &image);
    void verifyCompressedProgress(const QStringList &progress, qint64 compressedSize);
    // The lines of a write of the image: the copy's totals (those of the
    // compressed file, of compressedSize bytes, for xz), then the read-back.
    void verifyLines(const QStringList &lines, qint64 imageSize, qint64 compressedSize = 0);
    // Writes the file with the helper, which must succeed with those lines
    // and leave the image on the device.
    void writeAndVerify(const QString &path, const QByteArray &image, qint64 compressedSize = 0);

    UdisksFixture m_fixture;
    UdisksFixture::LoopDevice m_device;
    QTemporaryDir m_dir;
};

namespace {
constexpr qint64 MiB = 1024 * 1024;
constexpr qint64 bufferSize = 4 * MiB;
// What the device holds before each write, so that bytes the helper wrote
// (zero padding included) differ from bytes it left alone.
constexpr char filler = char(0xa5);
constexpr qint64 fillerSize = 24 * MiB;

// Text-like data that xz shrinks a lot but not to nothing.
QByteArray compressibleData(qint64 size)
{
    QRandomGenerator generator(7);
    QByteArray data;
    data.reserve(size);
    while (data.size() < size)
        data += QByteArray::number(generator.bounded(100000)) + (generator.bounded(8) ? ' ' : '\n');
    data.truncate(size);
    return data;
}

// The progress lines of a plain copy: the running total after each buffer.
QStringList copyTotals(qint64 size)
{
    QStringList totals;
    for (qint64 total = 0; total < size;) {
        total = qMin(total + bufferSize, size);
        totals << QString::number(total);
    }
    return totals;
}

// The end of a write of size bytes with no implanted checksum: every byte is
// read back, 4 MiB at a time, with the offset verified after each read.
QStringList ending(qint64 size)
{
    return QStringList { QStringLiteral("CHECK") } + copyTotals(size) + QStringList { QStringLiteral("DONE") };
}
} // namespace

void TestHelperWrite::initTestCase()
{
    if (!m_fixture.skipReason().isEmpty())
        QSKIP(qPrintable(m_fixture.skipReason()));
    QVERIFY(QFile::exists(BuildPaths::helper()));
    m_device = m_fixture.attach(64 * MiB);
    QVERIFY2(m_device.isValid(), qPrintable(m_fixture.errorString()));
    QVERIFY(m_dir.isValid());
}

void TestHelperWrite::init()
{
    QVERIFY(UdisksFixture::writeDevice(m_device.node, 0, QByteArray(fillerSize, filler)));
}

void TestHelperWrite::cleanupTestCase()
{
    if (m_device.isValid())
        m_fixture.detach(m_device);
}

QString TestHelperWrite::writeFile(const QString &name, const QByteArray &content)
{
    const QString path = m_dir.filePath(name);
    return FileContents::write(path, content) ? path : QString();
}

// The image from the first byte, zeros up to the next 512-byte boundary (an
// O_DIRECT write cannot be shorter), and nothing touched after that.
void TestHelperWrite::compareDevice(const QByteArray &image)
{
    const qint64 padded = (image.size() + 511) / 512 * 512;
    const QByteArray device = UdisksFixture::readDevice(m_device.node, 0, padded + 4096);
    QCOMPARE(device.size(), padded + 4096);
    QVERIFY2(device.left(image.size()) == image, "the device does not hold the image");
    QCOMPARE(device.mid(image.size(), padded - image.size()), QByteArray(padded - image.size(), '\0'));
    if (padded + 4096 <= fillerSize)
        QCOMPARE(device.mid(padded), QByteArray(4096, filler));
}

// While decompressing, a total is printed after each read of the compressed
// file; once it is exhausted, the decoder's last passes repeat the final total.
void TestHelperWrite::verifyCompressedProgress(const QStringList &progress, qint64 compressedSize)
{
    QStringList distinct;
    for (const QString &line : progress) {
        if (distinct.isEmpty() || distinct.constLast() != line)
            distinct << line;
    }
    QCOMPARE(distinct, copyTotals(compressedSize));
    QVERIFY2(progress.count(QString::number(compressedSize)) >= 2, qPrintable(progress.join(QLatin1Char(' '))));
}

void TestHelperWrite::verifyLines(const QStringList &lines, qint64 imageSize, qint64 compressedSize)
{
    const int check = lines.indexOf(QStringLiteral("CHECK"));
    QVERIFY2(check > 0, qPrintable(lines.join(QLatin1Char(' '))));
    // One read-back serves both checks: everything written is compared with
    // what was sent, and an implanted checksum is checked on the same reads.
    QCOMPARE(lines.mid(check), ending(imageSize));
    if (compressedSize > 0)
        verifyCompressedProgress(lines.mid(0, check), compressedSize);
    else
        QCOMPARE(lines.mid(0, check), copyTotals(imageSize));
}

void TestHelperWrite::writeAndVerify(const QString &path, const QByteArray &image, qint64 compressedSize)
{
    QVERIFY(!path.isEmpty() && !image.isEmpty());
    const auto result = m_fixture.runHelper({ QStringLiteral("write"), path, m_device.objectPath });
    QVERIFY2(result.ended && result.exitStatus == QProcess::NormalExit, qPrintable(result.describe()));
    QCOMPARE(result.standardError, QByteArray("OK\n"));
    QCOMPARE(result.exitCode, 0);
    verifyLines(result.lines(), image.size(), compressedSize);
    if (!QTest::currentTestFailed())
        compareDevice(image);
}

void TestHelperWrite::plain_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<qint64>("size");

    QTest::newRow("1000 bytes, padded to a block") << QStringLiteral("small.img") << qint64(1000);
    QTest::newRow("exactly one buffer") << QStringLiteral("one.img") << bufferSize;
    QTest::newRow("three buffers and a 4 KiB tail") << QStringLiteral("tail.iso") << 3 * bufferSize + 4096;
    QTest::newRow("10 MiB and 100 bytes") << QStringLiteral("odd.img") << 10 * MiB + 100;
    QTest::newRow("upper-case XZ is no xz") << QStringLiteral("random.img.XZ") << 5 * MiB + 3;
}

void TestHelperWrite::plain()
{
    QFETCH(QString, name);
    QFETCH(qint64, size);
    const QByteArray image = FileContents::random(size, quint32(size));
    writeAndVerify(writeFile(name, image), image);
}

void TestHelperWrite::compressed_data()
{
    QTest::addColumn<QByteArray>("image");
    QTest::addColumn<QByteArray>("compressed");

    const QByteArray tiny = FileContents::random(1000, 1);
    QTest::newRow("1000 random bytes") << tiny << FileContents::xz(tiny, { QStringLiteral("-1") });
    const QByteArray random = FileContents::random(10 * MiB + 100, 2);
    QTest::newRow("10 MiB random, several reads") << random << FileContents::xz(random, { QStringLiteral("-0") });
    const QByteArray text = compressibleData(20 * MiB + 512);
    QTest::newRow("20 MiB text in several blocks")
        << text << FileContents::xz(text, { QStringLiteral("-1"), QStringLiteral("--block-size=3MiB") });
    const QByteArray first = FileContents::random(3 * MiB, 3);
    const QByteArray second = compressibleData(5 * MiB + 7);
    QTest::newRow("two concatenated streams")
        << first + second
        << FileContents::xz(first, { QStringLiteral("-0") }) + FileContents::xz(second, { QStringLiteral("-6") });
}

void TestHelperWrite::compressed()
{
    QFETCH(QByteArray, image);
    QFETCH(QByteArray, compressed);
    QVERIFY2(!compressed.isEmpty(), "xz failed");
    writeAndVerify(writeFile(QStringLiteral("image.img.xz"), compressed), image, compressed.size());
}

void TestHelperWrite::debianImages_data()
{
    QTest::addColumn<QString>("path");

    const QString cache = QStringLiteral(FLASHWRIGHT_BUILD_DIR "/image-cache");
    QDirIterator disks(cache + QStringLiteral("/syslinux-common/usr/lib/syslinux/mbr/diag"),
                       { QStringLiteral("*.img.xz") }, QDir::Files, QDirIterator::Subdirectories);
    int found = 0;
    while (disks.hasNext()) {
        const QString path = disks.next();
        ++found;
        QTest::newRow(qPrintable(QFileInfo(path).fileName())) << path;
    }
    // An ISO without an implanted checksum: verified by reading it back.
    const QString iso = cache + QStringLiteral("/memtest86+/usr/lib/memtest86+/memtest86+x64.iso");
    if (QFile::exists(iso)) {
        QTest::newRow("memtest86+x64.iso") << iso;
        ++found;
    }
    if (found == 0)
        QTest::newRow("not fetched") << QString();
}

void TestHelperWrite::debianImages()
{
    QFETCH(QString, path);
    if (path.isEmpty())
        QSKIP("Debian images are missing: the ctest fixture 'images' fetches syslinux-common and memtest86+");

    const bool compressedImage = path.endsWith(QLatin1String(".xz"));
    writeAndVerify(path, compressedImage ? FileContents::readXz(path) : FileContents::read(path),
                   compressedImage ? QFileInfo(path).size() : 0);
}

void TestHelperWrite::iso_data()
{
    QTest::addColumn<bool>("implanted");
    QTest::newRow("implanted checksum") << true;
    QTest::newRow("no implanted checksum") << false;
}

void TestHelperWrite::iso()
{
    QFETCH(bool, implanted);
    if (QStandardPaths::findExecutable(QStringLiteral("xorriso")).isEmpty()
        || QStandardPaths::findExecutable(QStringLiteral("implantisomd5")).isEmpty())
        QSKIP("xorriso and implantisomd5 (package isomd5sum) are needed to make an ISO with a checksum");

    const QString tree = m_dir.filePath(QStringLiteral("tree"));
    QVERIFY(QDir().mkpath(tree + QStringLiteral("/boot")));
    QVERIFY(!writeFile(QStringLiteral("tree/boot/kernel"), FileContents::random(3 * MiB + 17, 11)).isEmpty());
    QVERIFY(!writeFile(QStringLiteral("tree/readme.txt"), compressibleData(200000)).isEmpty());
    const QString iso = m_dir.filePath(QStringLiteral("live.iso"));
    QFile::remove(iso);
    QVERIFY2(m_fixture.run(QStringLiteral("xorriso"),
                           { QStringLiteral("-as"), QStringLiteral("mkisofs"), QStringLiteral("-quiet"),
                             QStringLiteral("-V"), QStringLiteral("LIVE"), QStringLiteral("-o"), iso, tree }),
             qPrintable(m_fixture.errorString()));
    if (implanted)
        QVERIFY2(m_fixture.run(QStringLiteral("implantisomd5"), { iso }), qPrintable(m_fixture.errorString()));
    writeAndVerify(iso, FileContents::read(iso));
}

// The helper watches the partial file with inotify once it has opened the device.
void TestHelperWrite::delayed_data()
{
    QTest::addColumn<QString>("finalName");
    QTest::addColumn<bool>("finishedBeforeStart");
    QTest::addColumn<bool>("compressedImage");

    QTest::newRow("finished while waiting") << QStringLiteral("download.img") << false << false;
    QTest::newRow("xz, finished while waiting") << QStringLiteral("download.img.xz") << false << true;
    QTest::newRow("finished before the watch began") << QStringLiteral("early.img") << true << false;
}

void TestHelperWrite::delayed()
{
    QFETCH(QString, finalName);
    QFETCH(bool, finishedBeforeStart);
    QFETCH(bool, compressedImage);

    const QByteArray image = FileContents::random(9 * MiB + 1234, 5);
    const QByteArray content = compressedImage ? FileContents::xz(image, { QStringLiteral("-0") }) : image;
    QVERIFY(!content.isEmpty());
    const QString finalPath = m_dir.filePath(finalName);
    const QString partPath = finalPath + QStringLiteral(".part");
    QFile::remove(finalPath);
    // The download has written its first part so far.
    QVERIFY(!writeFile(finalName + QStringLiteral(".part"), content.left(MiB)).isEmpty());
    if (finishedBeforeStart) {
        QVERIFY(!writeFile(finalName + QStringLiteral(".part"), content).isEmpty());
        QVERIFY(QFile::rename(partPath, finalPath));
    }

    QProcess helper;
    helper.setProcessEnvironment(m_fixture.helperEnvironment());
    helper.start(BuildPaths::helper(), { QStringLiteral("write"), partPath, m_device.objectPath });
    QVERIFY(helper.waitForStarted());

    if (!finishedBeforeStart) {
        QVERIFY2(waitForInotifyWatch(helper), helper.readAllStandardError().constData());
        // A growing partial file starts nothing.
        QVERIFY(!writeFile(finalName + QStringLiteral(".part"), content).isEmpty());
        QVERIFY(!helper.waitForFinished(300));
        QCOMPARE(helper.readAllStandardOutput(), QByteArray());
        QVERIFY(QFile::rename(partPath, finalPath));
    }

    const ProgramResult result = ProgramRun::finish(helper, 60000);
    QVERIFY2(result.ended && result.exitStatus == QProcess::NormalExit, qPrintable(result.describe()));
    QCOMPARE(result.standardError, QByteArray("OK\n"));
    QCOMPARE(result.exitCode, 0);
    const QStringList lines = result.lines();
    QCOMPARE(lines.mid(0, 2), (QStringList { QStringLiteral("WRITE"), QStringLiteral("1") }));
    verifyLines(lines.mid(2), image.size(), compressedImage ? content.size() : 0);
    if (!QTest::currentTestFailed())
        compareDevice(image);
}

// The partial file is gone when the helper starts and no finished file took
// its place: the download failed, and the helper must not wait forever.
void TestHelperWrite::delayedPartialGoneWithoutImage()
{
    const QString partPath = m_dir.filePath(QStringLiteral("failed.img.part"));
    QVERIFY(!QFile::exists(partPath));
    const auto result = m_fixture.runHelper({ QStringLiteral("write"), partPath, m_device.objectPath }, 30000);
    QCOMPARE(result.exitStatus, QProcess::NormalExit);
    QCOMPARE(result.exitCode, 4);
    QCOMPARE(result.standardError, QByteArray());
    QCOMPARE(result.standardOutput, QByteArray());
}

// Images that cannot be right are refused before anything is written: an
// empty one, and an ISO cut short (an interrupted download), which written
// would fail its check and be blamed on the drive.
void TestHelperWrite::refusedImages_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("expectedErrors");

    const QByteArray empty("The image is empty: there is nothing to write.");
    const QByteArray incomplete("The image file is incomplete: it is shorter than the ISO volume it describes.");
    QTest::newRow("empty image") << QStringLiteral("empty.img") << empty;
    QTest::newRow("xz that decodes to nothing") << QStringLiteral("empty.img.xz") << empty;
    QTest::newRow("ISO cut short") << QStringLiteral("cut.iso") << incomplete;
    QTest::newRow("xz of an ISO cut short") << QStringLiteral("cut.iso.xz") << incomplete;
}

void TestHelperWrite::refusedImages()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, expectedErrors);

    QByteArray content;
    if (name.startsWith(QLatin1String("cut"))) {
        if (const QString missing = IsoImage::missingTools(); !missing.isEmpty())
            QSKIP(qPrintable(QStringLiteral("needs %1 to make an ISO").arg(missing)));
        const QString iso = m_dir.filePath(QStringLiteral("whole.iso"));
        QVERIFY(IsoImage::make(iso, 6 * MiB, 12));
        content = FileContents::read(iso);
        content.truncate(content.size() / 2);
    }
    if (name.endsWith(QLatin1String(".xz")))
        content = FileContents::xz(content, { QStringLiteral("-0") });
    const QString path = writeFile(name, content);
    QVERIFY(!path.isEmpty());

    const auto result = m_fixture.runHelper({ QStringLiteral("write"), path, m_device.objectPath });
    QCOMPARE(result.exitStatus, QProcess::NormalExit);
    QCOMPARE(result.standardError, expectedErrors);
    QCOMPARE(result.exitCode, 2);
    QVERIFY2(!result.lines().contains(QStringLiteral("CHECK")), result.standardOutput.constData());
    QCOMPARE(UdisksFixture::readDevice(m_device.node, 0, fillerSize), QByteArray(fillerSize, filler));
}

void TestHelperWrite::imageLargerThanDrive()
{
    const UdisksFixture::LoopDevice small = m_fixture.attach(8 * MiB);
    QVERIFY2(small.isValid(), qPrintable(m_fixture.errorString()));
    const QString path = writeFile(QStringLiteral("large.img"), FileContents::random(12 * MiB, 9));
    QVERIFY(!path.isEmpty());

    const auto result = m_fixture.runHelper({ QStringLiteral("write"), path, small.objectPath });
    m_fixture.detach(small);
    QCOMPARE(result.exitStatus, QProcess::NormalExit);
    QCOMPARE(result.standardError, QByteArray("Destination drive is not writable"));
    QCOMPARE(result.exitCode, 3);
    QCOMPARE(result.lines(), copyTotals(8 * MiB));
}

void TestHelperWrite::deviceIsNoUdisksObject()
{
    const QString path = writeFile(QStringLiteral("some.img"), FileContents::random(4096, 4));
    const auto result = m_fixture.runHelper(
        { QStringLiteral("write"), path, QStringLiteral("/org/freedesktop/UDisks2/block_devices/nosuchdevice") });
    QCOMPARE(result.exitStatus, QProcess::NormalExit);
    QCOMPARE(result.exitCode, 2);
    QVERIFY(!result.standardError.isEmpty());
    QCOMPARE(result.standardOutput, QByteArray());
    QCOMPARE(UdisksFixture::readDevice(m_device.node, 0, 4096), QByteArray(4096, filler));
}

void TestHelperWrite::unreadableImage_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("status");

    QTest::newRow("missing xz image") << QStringLiteral("missing.img.xz") << QStringLiteral("missing") << 2;
    QTest::newRow("xz name on a folder") << QStringLiteral("folder.img.xz") << QStringLiteral("folder") << 2;
    QTest::newRow("plain name on a folder") << QStringLiteral("folder.img") << QStringLiteral("folder") << 2;
    // Reading the start of a process's own memory fails with EIO.
    QTest::newRow("xz read fails") << QStringLiteral("broken.img.xz") << QStringLiteral("unreadable") << 3;
    QTest::newRow("plain read fails") << QStringLiteral("broken.img") << QStringLiteral("unreadable") << 3;
}

void TestHelperWrite::unreadableImage()
{
    QFETCH(QString, name);
    QFETCH(QString, kind);
    QFETCH(int, status);

    const QString path = m_dir.filePath(name);
    if (kind == QLatin1String("folder"))
        QVERIFY(QDir().mkpath(path));
    else if (kind == QLatin1String("unreadable"))
        QVERIFY(QFile::link(QStringLiteral("/proc/self/mem"), path));

    const auto result = m_fixture.runHelper({ QStringLiteral("write"), path, m_device.objectPath });
    QCOMPARE(result.exitStatus, QProcess::NormalExit);
    QCOMPARE(result.exitCode, status);
    const QByteArray expected
        = status == 2 ? "Source image is not readable" + path.toUtf8() : QByteArray("Source image is not readable");
    QCOMPARE(result.standardError, expected);
    QCOMPARE(result.standardOutput, QByteArray());
    QCOMPARE(UdisksFixture::readDevice(m_device.node, 0, 4096), QByteArray(4096, filler));
}

QTEST_GUILESS_MAIN(TestHelperWrite)
#include "tst_helperwrite.moc"
