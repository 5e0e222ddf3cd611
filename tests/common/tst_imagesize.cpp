// What an image file says of its own size: an xz file's decoded size from
// its index, the sizes that zstd and zip files record, and the volume an
// ISO's primary descriptor declares; and in which format a file is compressed.

#include "filecontents.h"
#include "imageformat.h"
#include "imagesize.h"
#include "isoimage.h"
#include "isovolume.h"
#include "xzindex.h"

#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

namespace {

QByteArray xz(const QByteArray &data, const QStringList &options = {})
{
    QProcess process;
    process.start(QStringLiteral("xz"), QStringList { QStringLiteral("-c") } + options);
    process.write(data);
    process.closeWriteChannel();
    process.waitForFinished(60000);
    return process.exitCode() == 0 ? process.readAllStandardOutput() : QByteArray();
}

QByteArray randomBytes(qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator generator(7);
    for (char &byte : bytes)
        byte = char(generator.generate());
    return bytes;
}

} // namespace

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

    const QByteArray data = randomBytes(3 << 20);
    const QByteArray oneStream = xz(data);
    // Made like images for boards are: many blocks, one per thread.
    const QByteArray blocks = xz(data, { QStringLiteral("-T2"), QStringLiteral("--block-size=1MiB") });
    QTest::newRow("one stream") << oneStream << qint64(data.size());
    QTest::newRow("blocks") << blocks << qint64(data.size());
    QTest::newRow("two streams and padding")
        << oneStream + QByteArray(8, '\0') + xz(QByteArray(1000, 'a')) << qint64(data.size() + 1000);
    QTest::newRow("decodes to nothing") << xz(QByteArray()) << qint64(0);
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

    const QByteArray data = randomBytes(300000);
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
    QTest::newRow("zip64 of one file")
        << QStringList { QStringLiteral("zip"), QStringLiteral("-fz"), QStringLiteral("image.img") } << data
        << int(ImageFormat::Zip) << size << true;
    QTest::newRow("zip of two files")
        << QStringList { QStringLiteral("zip"), QStringLiteral("a.img"), QStringLiteral("b.img") } << data
        << int(ImageFormat::Zip) << qint64(-1) << false;
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
