// What an image file says of its own size: an xz file's decoded size from
// its index, the sizes that zstd and zip files record, and the volume an
// ISO's primary descriptor declares; and in which format a file is compressed.

#include "filecontents.h"
#include "imageformat.h"
#include "imagesize.h"
#include "isoimage.h"
#include "isovolume.h"
#include "xzindex.h"
#include "zstdsize.h"

#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

class TestImageSize : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void xzSize_data();
    void xzSize();
    void compressedSize_data();
    void compressedSize();
    void receivedSize_data();
    void receivedSize();
    void formatOfHead_data();
    void formatOfHead();
    void zstdHeader_data();
    void zstdHeader();
    void isoVolume();

private:
    QTemporaryDir m_dir;
};

void TestImageSize::initTestCase()
{
    QVERIFY(m_dir.isValid());
    if (QStandardPaths::findExecutable(QStringLiteral("xz")).isEmpty())
        QSKIP("xz is not installed");
}

void TestImageSize::xzSize_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<qint64>("expected");

    const QByteArray data = FileContents::random(3 << 20, 7);
    const QByteArray oneStream = FileContents::xz(data);
    // Made like images for boards are: many blocks, one per thread.
    const QByteArray blocks = FileContents::xz(data, { QStringLiteral("-T2"), QStringLiteral("--block-size=1MiB") });
    QTest::newRow("one stream") << oneStream << qint64(data.size());
    QTest::newRow("blocks") << blocks << qint64(data.size());
    QTest::newRow("two streams and padding")
        << oneStream + QByteArray(8, '\0') + FileContents::xz(QByteArray(1000, 'a')) << qint64(data.size() + 1000);
    QTest::newRow("decodes to nothing") << FileContents::xz(QByteArray()) << qint64(0);
    QTest::newRow("cut short") << oneStream.left(oneStream.size() - 10) << qint64(-1);
    QTest::newRow("not xz") << data.left(1 << 20) << qint64(-1);
    QTest::newRow("empty file") << QByteArray() << qint64(-1);
    QByteArray damagedIndex = oneStream;
    damagedIndex[damagedIndex.size() - 20] = char(damagedIndex.at(damagedIndex.size() - 20) ^ 0x55);
    QTest::newRow("damaged index") << damagedIndex << qint64(-1);
}

void TestImageSize::xzSize()
{
    QFETCH(QByteArray, file);
    QFETCH(qint64, expected);
    QVERIFY(!file.isEmpty() || QByteArray(QTest::currentDataTag()) == "empty file");
    const QString path = m_dir.filePath(QStringLiteral("image.xz"));
    QVERIFY(FileContents::write(path, file));
    QCOMPARE(qint64(xzDecodedSize(QFile::encodeName(path).constData())), expected);
    // What the program sizes drives by reads the same index.
    const ReceivedSize received = ::receivedSize(path);
    QVERIFY(received.compressed);
    QCOMPARE(received.bytes, expected);
}

void TestImageSize::receivedSize_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("pipe");
    QTest::addColumn<bool>("compressed");
    QTest::addColumn<qint64>("bytes");
    QTest::newRow("plain image") << QStringLiteral("plain.img") << false << false << qint64(1000);
    QTest::newRow("upper-case XZ is written as it is") << QStringLiteral("plain.XZ") << false << false << qint64(1000);
    // Opened for its index, a pipe would wait for a writer with the window.
    QTest::newRow("named pipe called .xz") << QStringLiteral("pipe.xz") << true << true << qint64(-1);
    QTest::newRow("missing") << QStringLiteral("missing.xz") << false << true << qint64(-1);
}

void TestImageSize::receivedSize()
{
    QFETCH(QString, name);
    QFETCH(bool, pipe);
    QFETCH(bool, compressed);
    QFETCH(qint64, bytes);
    const QString path = m_dir.filePath(name);
    if (pipe)
        QCOMPARE(mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    else if (!name.startsWith(QLatin1String("missing")))
        QVERIFY(FileContents::write(path, QByteArray(1000, 'x')));
    const ReceivedSize received = ::receivedSize(path);
    QCOMPARE(received.compressed, compressed);
    QCOMPARE(received.bytes, bytes);
}

// The file column: a compressor and its options, or "zip" and the names of
// the archive's files (each holding the data), or "bytes" for the data itself.
void TestImageSize::compressedSize_data()
{
    QTest::addColumn<QStringList>("made");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<int>("format");
    QTest::addColumn<qint64>("bytes");
    QTest::addColumn<bool>("exact");

    const QByteArray data = FileContents::random(300000, 7);
    const auto size = qint64(data.size());
    const QString streamSize = QStringLiteral("--stream-size=%1").arg(size);
    QTest::newRow("xz") << QStringList { QStringLiteral("xz") } << data << int(ImageFormat::Xz) << size << true;
    // gzip's trailer holds the size modulo 4 GiB: not taken.
    QTest::newRow("gzip") << QStringList { QStringLiteral("gzip") } << data << int(ImageFormat::Gzip) << qint64(-1)
                          << false;
    QTest::newRow("bzip2") << QStringList { QStringLiteral("bzip2") } << data << int(ImageFormat::Bzip2) << qint64(-1)
                           << false;
    QTest::newRow("zstd from a pipe, no size recorded")
        << QStringList { QStringLiteral("zstd") } << data << int(ImageFormat::Zstd) << qint64(-1) << false;
    QTest::newRow("zstd with its size") << QStringList { QStringLiteral("zstd"), streamSize } << data
                                        << int(ImageFormat::Zstd) << size << false;
    QTest::newRow("zstd of nothing") << QStringList { QStringLiteral("zstd"), QStringLiteral("--stream-size=0") }
                                     << QByteArray() << int(ImageFormat::Zstd) << qint64(0) << false;
    QTest::newRow("zip of one file") << QStringList { QStringLiteral("zip"), QStringLiteral("image.img") } << data
                                     << int(ImageFormat::Zip) << size << true;
    QTest::newRow("zip of one file in a folder")
        << QStringList { QStringLiteral("zip"), QStringLiteral("disk/"), QStringLiteral("disk/image.img") } << data
        << int(ImageFormat::Zip) << size << true;
    QTest::newRow("zip64 of one file") << QStringList { QStringLiteral("zip"), QStringLiteral("-fz"),
                                                        QStringLiteral("image.img") }
                                       << data << int(ImageFormat::Zip) << size << true;
    QTest::newRow("zip of two files") << QStringList { QStringLiteral("zip"), QStringLiteral("a.img"),
                                                       QStringLiteral("b.img") }
                                      << data << int(ImageFormat::Zip) << qint64(-1) << false;
    QTest::newRow("empty zip archive") << QStringList { QStringLiteral("bytes") }
                                       << QByteArray("PK\x05\x06", 4) + QByteArray(18, '\0') << int(ImageFormat::Zip)
                                       << qint64(-1) << false;
    QTest::newRow("plain") << QStringList { QStringLiteral("bytes") } << data << int(ImageFormat::Plain) << qint64(-1)
                           << false;
}

void TestImageSize::compressedSize()
{
    QFETCH(QStringList, made);
    QFETCH(QByteArray, data);
    QFETCH(int, format);
    QFETCH(qint64, bytes);
    QFETCH(bool, exact);

    const QString program = made.takeFirst();
    if (program != QLatin1String("bytes") && QStandardPaths::findExecutable(program).isEmpty())
        QSKIP(qPrintable(program + QStringLiteral(" is not installed")));
    const QString path = m_dir.filePath(QStringLiteral("image"));
    if (program == QLatin1String("bytes")) {
        QVERIFY(FileContents::write(path, data));
    } else if (program == QLatin1String("zip")) {
        QList<std::pair<QString, QByteArray>> files;
        QStringList options;
        for (const QString &name : std::as_const(made)) {
            if (name.startsWith(QLatin1Char('-')))
                options << name;
            else
                files.append({ name, name.endsWith(QLatin1Char('/')) ? QByteArray() : data });
        }
        QVERIFY(FileContents::writeZip(path, files, options));
    } else {
        QVERIFY(FileContents::writeCompressed(path, program, data, made));
    }

    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadWrite));
    QCOMPARE(int(formatOfFile(file.handle())), format);
    const DecodedSize decoded = decodedSize(file.handle(), ImageFormat(format));
    QCOMPARE(qint64(decoded.bytes), bytes);
    QCOMPARE(decoded.exact, exact);
    // Where the size stands in a zstd frame's header, a cut-off file still tells it.
    if (ImageFormat(format) == ImageFormat::Zstd && bytes >= 0) {
        QVERIFY(file.resize(20));
        QCOMPARE(qint64(decodedSize(file.handle(), ImageFormat::Zstd).bytes), bytes);
    }
}

void TestImageSize::formatOfHead_data()
{
    QTest::addColumn<QByteArray>("head");
    QTest::addColumn<QString>("format");

    QTest::newRow("xz") << QByteArray("\xfd"
                                      "7zXZ\0\0\x04",
                                      8)
                        << "xz";
    QTest::newRow("gzip") << QByteArray("\x1f\x8b\x08\0", 4) << "gzip";
    QTest::newRow("bzip2") << QByteArray("BZh9") << "bzip2";
    QTest::newRow("BZh without a block size") << QByteArray("BZhx") << "";
    QTest::newRow("zstd") << QByteArray("\x28\xb5\x2f\xfd\x20", 5) << "zstd";
    QTest::newRow("zstd behind a skippable frame") << QByteArray("\x5e\x2a\x4d\x18\0\0\0\0", 8) << "zstd";
    QTest::newRow("zip") << QByteArray("PK\x03\x04") << "zip";
    QTest::newRow("empty zip") << QByteArray("PK\x05\x06") << "zip";
    QTest::newRow("ISO") << QByteArray(8, '\0') << "";
    QTest::newRow("too short for any") << QByteArray("\x1f") << "";
}

void TestImageSize::formatOfHead()
{
    QFETCH(QByteArray, head);
    QFETCH(QString, format);
    QCOMPARE(QString::fromLatin1(formatName(::formatOfHead(head.constData(), head.size()))), format);
}

// Frame headers as the format lays them out, for the cases zstd itself does
// not write: skippable frames first, sizes in two bytes, reserved bits.
void TestImageSize::zstdHeader_data()
{
    QTest::addColumn<QByteArray>("head");
    QTest::addColumn<qint64>("size");

    const QByteArray frame("\x28\xb5\x2f\xfd", 4);
    const QByteArray skippable("\x50\x2a\x4d\x18\x03\x00\x00\x00xyz", 11);
    // Single segment with a one-byte size; a window byte and a two-byte size (+256).
    QTest::newRow("one-byte size") << frame + QByteArray("\x20\x2a", 2) << qint64(42);
    QTest::newRow("two-byte size") << frame + QByteArray("\x40\x00\x10\x00", 4) << qint64(16 + 256);
    QTest::newRow("behind a skippable frame") << skippable + frame + QByteArray("\x20\x2a", 2) << qint64(42);
    QTest::newRow("skippable frame cut short") << skippable.left(9) << qint64(-1);
    QTest::newRow("skippable frame header cut short") << skippable.left(6) << qint64(-1);
    QTest::newRow("no size recorded") << frame + QByteArray("\x00\x00", 2) << qint64(-1);
    QTest::newRow("reserved bit set") << frame + QByteArray("\x28\x2a", 2) << qint64(-1);
    QTest::newRow("size field cut short") << frame + QByteArray("\xc0\x00\x01", 3) << qint64(-1);
    QTest::newRow("eight-byte size past what a file can hold")
        << frame + QByteArray("\xe0\xff\xff\xff\xff\xff\xff\xff\xff", 9) << qint64(-1);
    QTest::newRow("no frame") << QByteArray("\x28\xb5\x2f\xfe\x20\x2a", 6) << qint64(-1);
    QTest::newRow("magic only") << frame << qint64(-1);
}

void TestImageSize::zstdHeader()
{
    QFETCH(QByteArray, head);
    QFETCH(qint64, size);
    QCOMPARE(qint64(zstdFirstFrameSize(reinterpret_cast<const unsigned char *>(head.constData()), head.size())), size);
}

void TestImageSize::isoVolume()
{
    if (const QString missing = IsoImage::missingTools(); !missing.isEmpty())
        QSKIP(qPrintable(QStringLiteral("missing: %1").arg(missing)));
    const QString path = m_dir.filePath(QStringLiteral("volume.iso"));
    QVERIFY(IsoImage::make(path, 1 << 20));
    const QByteArray image = FileContents::read(path);

    IsoVolume volume;
    QVERIFY(IsoVolume::find(image.constData(), image.size(), volume));
    QCOMPARE(volume.descriptorOffset, IsoImage::DescriptorOffset);
    QCOMPARE(volume.size(), IsoImage::volumeSize(path));

    // A sector of type 1 without the standard identifier is no descriptor:
    // a raw disk image that happens to hold such bytes is not an ISO.
    QByteArray forged = image;
    forged.replace(IsoImage::DescriptorOffset + 1, 5, "XXXXX");
    QVERIFY(!IsoVolume::find(forged.constData(), forged.size(), volume));
    // A head that ends before the descriptor holds none.
    QVERIFY(!IsoVolume::find(image.constData(), IsoImage::DescriptorOffset + 100, volume));
}

QTEST_GUILESS_MAIN(TestImageSize)
#include "tst_imagesize.moc"
