// What an image file says of its own size: an xz file's decoded size from
// its index, and the volume an ISO's primary descriptor declares.

#include "filecontents.h"
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
