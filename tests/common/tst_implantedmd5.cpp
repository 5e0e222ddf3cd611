#include "implantedchecksum.h"
#include "implantedmd5.h"
#include "isoimage.h"
#include "md5.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

constexpr qint64 Step = 32768;

struct Recorder
{
    QList<QPair<qint64, qint64>> calls;
    int abortAt = -1;
};

int record(void *data, long long offset, long long total)
{
    auto *recorder = static_cast<Recorder *>(data);
    recorder->calls.append({ offset, total });
    return recorder->calls.size() - 1 == recorder->abortAt ? 1 : 0;
}

// A descriptor that is closed when the test leaves its scope.
struct Descriptor
{
    int fd = -1;
    ~Descriptor()
    {
        if (fd >= 0)
            close(fd);
    }
};

// -1 with errno set when the file cannot be opened for O_DIRECT.
int openDirect(const QString &path)
{
    return open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_DIRECT);
}

int checkFile(const QString &path, Recorder *recorder = nullptr)
{
    return mediaCheckFile(QFile::encodeName(path).constData(), recorder ? record : nullptr, recorder);
}

QString hex(const Md5::Digest &digest)
{
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char *>(digest.data()), int(digest.size())).toHex());
}

enum Change { None, Flip, Truncate, AppData };

} // namespace

class TestImplantedMd5 : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void md5MatchesReference_data();
    void md5MatchesReference();

    void agreesWithCheckisomd5_data();
    void agreesWithCheckisomd5();

    void progressOrder();
    void callbackAborts_data();
    void callbackAborts();
    void fragmentMismatchStopsEarly_data();
    void fragmentMismatchStopsEarly();

    void checkAgainstHead_data();
    void checkAgainstHead();

    void streamedInPieces_data();
    void streamedInPieces();

    void unusableInput();
    void ignoresDescriptorPosition();
    void loopDeviceWith4kSectors();
    void realImage();

private:
    QString copyOf(const QString &source, const QString &name);

    QTemporaryDir m_dir { QStringLiteral(FLASHWRIGHT_BUILD_DIR "/md5-test-XXXXXX") };
    QString m_base;
    QString m_plain;
    QString m_tiny;
    QString m_later;
    QString m_other;
    QString m_tampered;
    qint64 m_isoSize = 0;
    qint64 m_total = 0;
    QByteArray m_digest;
    QByteArray m_sums;
    int m_copies = 0;
};

void TestImplantedMd5::initTestCase()
{
    const QString missing = IsoImage::missingTools();
    if (!missing.isEmpty())
        QSKIP(qPrintable(QStringLiteral("needs %1 (apt-get install xorriso isomd5sum)").arg(missing)));
    QVERIFY(m_dir.isValid());

    m_plain = m_dir.filePath(QStringLiteral("plain.iso"));
    QVERIFY(IsoImage::make(m_plain, 3 << 20));
    // An even sector count leaves an odd number of 2048-byte sectors to check,
    // so the checked range does not end on a 4096-byte boundary.
    const qint64 sectors = IsoImage::volumeSize(m_plain) / IsoImage::SectorSize;
    if (sectors % 2 != 0)
        QVERIFY(IsoImage::setVolumeSectors(m_plain, sectors + 1));
    m_isoSize = IsoImage::volumeSize(m_plain);
    m_total = m_isoSize - IsoImage::SkippedBytes;
    QCOMPARE(m_total % 4096, 2048);

    m_base = copyOf(m_plain, QStringLiteral("base.iso"));
    QVERIFY(IsoImage::implant(m_base));
    const QByteArray implanted = IsoImage::appData(m_base);
    QVERIFY2(implanted.startsWith("ISO MD5SUM = "), implanted.constData());
    m_digest = implanted.mid(13, 32);
    const int sums = implanted.indexOf("FRAGMENT SUMS = ");
    QVERIFY(sums > 0);
    m_sums = implanted.mid(sums + 16, 60);

    // The primary descriptor one sector later, behind a boot record.
    // implantisomd5 will not implant such an image, so the digest is
    // implanted here (without fragment sums).
    m_later = copyOf(m_plain, QStringLiteral("later.iso"));
    const QByteArray primary = IsoImage::read(m_plain, IsoImage::DescriptorOffset, IsoImage::SectorSize);
    const QByteArray terminator
        = IsoImage::read(m_plain, IsoImage::DescriptorOffset + IsoImage::SectorSize, IsoImage::SectorSize);
    QCOMPARE(primary.at(0), '\x01');
    QCOMPARE(terminator.at(0), '\xff');
    QVERIFY(IsoImage::write(m_later, IsoImage::DescriptorOffset,
                            QByteArray(1, '\0') + primary.mid(1) + primary + terminator));
    const qint64 laterAppData = IsoImage::AppDataOffset + IsoImage::SectorSize;
    QByteArray content = IsoImage::read(m_later, 0, m_total);
    content.replace(laterAppData, IsoImage::AppDataSize, QByteArray(IsoImage::AppDataSize, ' '));
    const QByteArray text = "ISO MD5SUM = " + QCryptographicHash::hash(content, QCryptographicHash::Md5).toHex()
        + ";SKIPSECTORS = 15;FRAGMENT COUNT = 0;";
    QVERIFY(IsoImage::write(m_later, laterAppData, text + QByteArray(IsoImage::AppDataSize - text.size(), ' ')));

    // As large as the base image, with other data and so another checksum.
    m_other = m_dir.filePath(QStringLiteral("other.iso"));
    QVERIFY(IsoImage::make(m_other, 3 << 20, 3));
    QVERIFY(IsoImage::implant(m_other));
    m_tampered = copyOf(m_base, QStringLiteral("tampered.iso"));
    QVERIFY(IsoImage::flipByte(m_tampered, m_total / 2));

    m_tiny = m_dir.filePath(QStringLiteral("tiny.iso"));
    QVERIFY(IsoImage::make(m_tiny, 300000, 2));
    QVERIFY(IsoImage::implant(m_tiny));
}

QString TestImplantedMd5::copyOf(const QString &source, const QString &name)
{
    const QString path = m_dir.filePath(QStringLiteral("%1-%2").arg(++m_copies).arg(name));
    return QFile::copy(source, path) ? path : QString();
}

void TestImplantedMd5::md5MatchesReference_data()
{
    QTest::addColumn<int>("size");
    for (int size : { 0, 1, 55, 56, 63, 64, 65, 119, 120, 1000, 100003 })
        QTest::addRow("%d bytes", size) << size;
}

void TestImplantedMd5::md5MatchesReference()
{
    QFETCH(int, size);
    QByteArray data(size, Qt::Uninitialized);
    QRandomGenerator random(size);
    for (char &c : data)
        c = static_cast<char>(random.generate());
    const QString expected = QString::fromLatin1(QCryptographicHash::hash(data, QCryptographicHash::Md5).toHex());

    Md5 whole;
    whole.update(data.constData(), data.size());
    QCOMPARE(hex(whole.result()), expected);

    // Fed in uneven pieces, with results taken in between: taking a result
    // must not disturb the running state.
    Md5 pieces;
    for (int done = 0; done < size;) {
        const int piece = qMin(size - done, int(random.bounded(1, 200)));
        pieces.update(data.constData() + done, piece);
        done += piece;
        (void)pieces.result();
    }
    QCOMPARE(hex(pieces.result()), expected);
}

void TestImplantedMd5::agreesWithCheckisomd5_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<int>("change");
    QTest::addColumn<qint64>("offset");
    QTest::addColumn<QByteArray>("appData");
    QTest::addColumn<int>("expected");
    // checkisomd5's verdict; the same as ours except where noted.
    QTest::addColumn<int>("reference");

    const QByteArray digest = "ISO MD5SUM = " + m_digest + ";";
    const QByteArray skip = "SKIPSECTORS = 15;";
    const QByteArray sums = "FRAGMENT SUMS = " + m_sums + ";FRAGMENT COUNT = 20;";
    auto changedSum = [this](int index) {
        QByteArray changed = m_sums;
        changed[index] = changed[index] == '0' ? '1' : '0';
        return "FRAGMENT SUMS = " + changed + ";FRAGMENT COUNT = 20;";
    };

    const auto plain = [](const char *tag, const QString &source, int expected, int reference) {
        QTest::newRow(tag) << source << int(None) << 0LL << QByteArray() << expected << reference;
    };
    const auto flip = [](const char *tag, const QString &source, qint64 offset, int expected, int reference) {
        QTest::newRow(tag) << source << int(Flip) << offset << QByteArray() << expected << reference;
    };
    const auto cut = [this](const char *tag, qint64 offset, int expected, int reference) {
        QTest::newRow(tag) << m_base << int(Truncate) << offset << QByteArray() << expected << reference;
    };
    const auto text = [this](const char *tag, const QByteArray &appData, int expected, int reference) {
        QTest::newRow(tag) << m_base << int(AppData) << 0LL << appData << expected << reference;
    };

    plain("implanted", m_base, 1, 1);
    plain("not implanted", m_plain, -1, -1);
    plain("fragments shorter than a step", m_tiny, 0, 0);

    // checkisomd5 fails images whose primary descriptor is not the first of
    // the set (and implantisomd5 refuses them); here the application-use area
    // of the descriptor actually found is the one that counts as spaces.
    const qint64 laterAppData = IsoImage::AppDataOffset + IsoImage::SectorSize;
    plain("later descriptor", m_later, 1, 0);
    flip("later descriptor, its application area", m_later, laterAppData + 500, 1, 0);
    flip("later descriptor, same place in boot record", m_later, IsoImage::AppDataOffset + 500, 0, 0);

    flip("byte in first sector", m_base, 100LL, 0, 0);
    flip("byte in the middle", m_base, m_total / 2, 0, 0);
    flip("last checked byte", m_base, m_total - 1, 0, 0);
    flip("first skipped byte", m_base, m_total, 1, 1);
    flip("last byte of image", m_base, m_isoSize - 1, 1, 1);
    flip("padding of application area", m_base, IsoImage::AppDataOffset + 500, 1, 1);
    flip("descriptor byte after application area", m_base, IsoImage::AppDataOffset + 520, 0, 0);
    flip("descriptor type", m_base, IsoImage::DescriptorOffset, -1, -1);
    // Type 1 alone does not make a descriptor: a raw disk image may hold it there.
    flip("descriptor identifier", m_base, IsoImage::DescriptorOffset + 1, -1, 0);

    cut("truncated in the middle", m_total / 2, 0, 0);
    cut("truncated off a block boundary", m_total / 2 + 777, 0, 0);
    cut("truncated in skipped sectors", m_total + 4096, 1, 1);
    cut("truncated after descriptor", 40000LL, 0, 0);
    // checkisomd5 spins forever on these.
    cut("truncated inside descriptor", 33000LL, -1, int(IsoImage::Hung));
    cut("empty file", 0LL, -1, int(IsoImage::Hung));

    text("fields reordered", "RHLISOSTATUS=1;" + sums + skip + digest, 1, 1);
    // checkisomd5 checks fragments even when no sums are stored, and so fails
    // every image implanted without them although its digest matches.
    text("without fragment sums", digest + skip, 1, 0);
    text("without fragment sums, count zero", digest + skip + "FRAGMENT COUNT = 0;", 1, 1);
    text("without digest", skip + sums, -1, -1);
    text("without skipped sectors", digest + sums, -1, -1);
    text("one sector fewer skipped", digest + "SKIPSECTORS = 14;" + sums, 0, 0);
    text("one sector more skipped", digest + "SKIPSECTORS = 16;", 0, 0);
    text("wrong first fragment sum", digest + skip + changedSum(0), 0, 0);
    text("wrong last fragment sum", digest + skip + changedSum(59), 0, 0);
    text("other fragment count", digest + skip + "FRAGMENT SUMS = " + m_sums + ";FRAGMENT COUNT = 10;", 0, 0);
    text("fragment count zero", digest + skip + "FRAGMENT SUMS = " + m_sums + ";FRAGMENT COUNT = 0;", 1, 1);
    text("digest one digit short", digest.chopped(2) + ";" + skip + sums, -1, -1);
    text("digest with extra digit", digest.chopped(1) + "0;" + skip + sums, 1, 1);
    text("skipped sectors not followed by separator", digest + sums + "SKIPSECTORS = 15", -1, -1);
    text("skipped sectors not a number", digest + "SKIPSECTORS = 15x;" + sums, -1, -1);
    // Skipped sectors outside the volume name no range to check: it would
    // end past the volume, be empty (a match that compared nothing), or
    // overflow its byte count. That is no checksum information, where
    // checkisomd5 reports a mismatch that no byte of the image decided.
    const QByteArray volumeSectors = QByteArray::number(m_isoSize / IsoImage::SectorSize);
    text("negative skipped sectors", digest + "SKIPSECTORS = -1;" + sums, -1, 0);
    text("the whole volume skipped", digest + "SKIPSECTORS = " + volumeSectors + ";", -1, 0);
    text("all but one sector skipped",
         digest + "SKIPSECTORS = " + QByteArray::number(volumeSectors.toLongLong() - 1) + ";", 0, 0);
    text("more skipped sectors than a 64-bit count", digest + "SKIPSECTORS = 99999999999999999999;" + sums, -1, 0);
    text("upper-case digest", digest.toUpper() + skip, 0, 0);
    // The last byte of the area does not count, so the digest loses its last digit.
    text("digest in the last byte",
         skip + QByteArray(IsoImage::AppDataSize - skip.size() - digest.size() + 1, ' ') + digest.chopped(1), -1, -1);
}

void TestImplantedMd5::agreesWithCheckisomd5()
{
    QFETCH(QString, source);
    QFETCH(int, change);
    QFETCH(qint64, offset);
    QFETCH(QByteArray, appData);
    QFETCH(int, expected);
    QFETCH(int, reference);

    const QString path = copyOf(source, QStringLiteral("case.iso"));
    QVERIFY(!path.isEmpty());
    switch (change) {
    case Flip:
        QVERIFY(IsoImage::flipByte(path, offset));
        break;
    case Truncate:
        QVERIFY(IsoImage::truncate(path, offset));
        break;
    case AppData:
        QVERIFY(IsoImage::setAppData(path, appData));
        break;
    default:
        break;
    }

    QCOMPARE(checkFile(path), expected);
    if (reference != IsoImage::Hung)
        QCOMPARE(int(IsoImage::referenceVerdict(path)), reference);

    Descriptor direct { openDirect(path) };
    if (direct.fd < 0) {
        QCOMPARE(errno, EINVAL);
        QSKIP("the file system of the build directory does not support O_DIRECT; checked buffered only");
    }
    QCOMPARE(mediaCheckFD(direct.fd, nullptr, nullptr), expected);
}

void TestImplantedMd5::progressOrder()
{
    Recorder recorder;
    QCOMPARE(checkFile(m_base, &recorder), 1);

    QList<QPair<qint64, qint64>> expected { { 0, m_total } };
    for (qint64 done = Step; done < m_total + Step; done += Step)
        expected.append({ qMin(done, m_total), m_total });
    expected.append({ m_isoSize, m_total });
    QCOMPARE(recorder.calls, expected);
}

void TestImplantedMd5::callbackAborts_data()
{
    QTest::addColumn<int>("abortAt");
    QTest::addColumn<int>("expectedCalls");
    const int allCalls = int((m_total + Step - 1) / Step) + 2;
    QTest::newRow("first call") << 0 << 1;
    QTest::newRow("third step") << 3 << 4;
    QTest::newRow("final call") << allCalls - 1 << allCalls;
}

void TestImplantedMd5::callbackAborts()
{
    QFETCH(int, abortAt);
    QFETCH(int, expectedCalls);
    Recorder recorder;
    recorder.abortAt = abortAt;
    QCOMPARE(checkFile(m_base, &recorder), 2);
    QCOMPARE(recorder.calls.size(), expectedCalls);
}

void TestImplantedMd5::fragmentMismatchStopsEarly_data()
{
    QTest::addColumn<qint64>("offset");
    QTest::addColumn<bool>("early");
    const qint64 fragment = m_total / 21;
    QTest::newRow("third fragment") << fragment * 3 + 100 << true;
    // After the last check point only the whole digest can notice.
    QTest::newRow("after last check point") << m_total - 100 << false;
}

void TestImplantedMd5::fragmentMismatchStopsEarly()
{
    QFETCH(qint64, offset);
    QFETCH(bool, early);
    const QString path = copyOf(m_base, QStringLiteral("fragment.iso"));
    QVERIFY(IsoImage::flipByte(path, offset));

    Recorder recorder;
    QCOMPARE(checkFile(path, &recorder), 0);
    QVERIFY(!recorder.calls.isEmpty());
    const qint64 last = recorder.calls.constLast().first;
    if (early) {
        const qint64 fragment = m_total / 21;
        QVERIFY2(last > offset && last <= offset + fragment + 2 * Step, qPrintable(QString::number(last)));
    } else {
        QCOMPARE(last, m_isoSize);
    }
}

// The helper takes the checksum information from the start of the image it
// sent, and measures the drive against that, not against whatever checksum
// the drive happens to hold.
void TestImplantedMd5::checkAgainstHead_data()
{
    QTest::addColumn<QString>("image"); // whose start is the head
    QTest::addColumn<qint64>("headSize");
    QTest::addColumn<QString>("device"); // what the drive holds
    QTest::addColumn<int>("expectedHead");
    QTest::addColumn<int>("expected");

    const qint64 mib = 1 << 20;
    QTest::newRow("the image itself") << m_base << mib << m_base << 1 << 1;
    QTest::newRow("whole image as head") << m_base << m_isoSize << m_base << 1 << 1;
    QTest::newRow("descriptor behind a boot record") << m_later << mib << m_later << 1 << 1;
    QTest::newRow("no checksum in the image") << m_plain << mib << m_base << -1 << -1;
    // The drive kept an older image with a checksum of its own, which matches it.
    QTest::newRow("drive holds another image") << m_other << mib << m_base << 1 << 0;
    QTest::newRow("drive holds damaged data") << m_base << mib << m_tampered << 1 << 0;
    QTest::newRow("head ends before the descriptor")
        << m_base << IsoImage::DescriptorOffset + 1000 << m_base << -1 << -1;
    QTest::newRow("head ends inside the application area")
        << m_base << IsoImage::AppDataOffset + 100 << m_base << -1 << -1;
    QTest::newRow("empty head") << m_base << 0LL << m_base << -1 << -1;
}

void TestImplantedMd5::checkAgainstHead()
{
    QFETCH(QString, image);
    QFETCH(qint64, headSize);
    QFETCH(QString, device);
    QFETCH(int, expectedHead);
    QFETCH(int, expected);

    const QByteArray head = IsoImage::read(image, 0, headSize);
    QCOMPARE(head.size(), headSize);
    QList<QPair<qint64, qint64>> calls;
    ImplantedChecksum checksum([&calls](long long offset, long long total) {
        calls.append({ offset, total });
        return true;
    });
    QCOMPARE(checksum.start(head.constData(), head.size()), expectedHead == 1);
    QCOMPARE(checksum.total(), expectedHead == 1 ? IsoImage::volumeSize(image) - IsoImage::SkippedBytes : 0LL);

    const QByteArray drive = IsoImage::read(device, 0, QFileInfo(device).size());
    checksum.update(drive.constData(), std::size_t(drive.size()));
    QCOMPARE(ImplantedChecksum::toCResult(checksum.finish()), expected);
    if (expected == 1)
        QCOMPARE(calls.constLast(), qMakePair(m_isoSize, m_total));
}

// Fed in pieces of any size, the streaming check keeps the 32 KiB steps of
// the fragment sums: checkisomd5's verdict, and the same progress calls as
// the file check.
void TestImplantedMd5::streamedInPieces_data()
{
    QTest::addColumn<QString>("image");
    QTest::addColumn<qint64>("fedBytes"); // -1: the whole file
    QTest::addColumn<QList<int>>("pieces"); // sizes used in turn
    QTest::addColumn<int>("expected");

    const QString wrongFragment = copyOf(m_base, QStringLiteral("stream-fragment.iso"));
    QByteArray sums = m_sums;
    sums[4] = sums[4] == '0' ? '1' : '0';
    IsoImage::setAppData(wrongFragment,
                         "ISO MD5SUM = " + m_digest + ";SKIPSECTORS = 15;FRAGMENT SUMS = " + sums
                             + ";FRAGMENT COUNT = 20;");
    const QList<int> odd { 1, 4095, 32769, 511, 1048579, 2047, 65536 };
    QTest::newRow("implanted, odd pieces from a byte to a MiB") << m_base << -1LL << odd << 1;
    QTest::newRow("implanted, one step less a byte") << m_base << -1LL << QList<int> { 32767 } << 1;
    QTest::newRow("implanted, whole file at once") << m_base << -1LL << QList<int> { 1 << 30 } << 1;
    QTest::newRow("byte changed in the middle") << m_tampered << -1LL << odd << 0;
    QTest::newRow("wrong second fragment sum") << wrongFragment << -1LL << QList<int> { 3333 } << 0;
    QTest::newRow("fragments shorter than a step") << m_tiny << -1LL << QList<int> { 1000 } << 0;
    QTest::newRow("data ends inside a step") << m_base << m_total / 2 + 777 << odd << 0;
    QTest::newRow("no checksum") << m_plain << -1LL << odd << -1;
}

void TestImplantedMd5::streamedInPieces()
{
    QFETCH(QString, image);
    QFETCH(qint64, fedBytes);
    QFETCH(QList<int>, pieces);
    QFETCH(int, expected);

    QByteArray content = IsoImage::read(image, 0, QFileInfo(image).size());
    if (fedBytes >= 0) {
        content.truncate(fedBytes);
        image = copyOf(image, QStringLiteral("stream-cut.iso"));
        QVERIFY(IsoImage::truncate(image, fedBytes));
    }
    QCOMPARE(int(IsoImage::referenceVerdict(image)), expected);
    Recorder byFile;
    QCOMPARE(checkFile(image, &byFile), expected);

    QList<QPair<qint64, qint64>> calls;
    ImplantedChecksum checksum([&calls](long long offset, long long total) {
        calls.append({ offset, total });
        return true;
    });
    QCOMPARE(checksum.start(content.constData(), 1 << 20), expected != -1);
    for (qsizetype done = 0, i = 0; done < content.size(); ++i) {
        const qsizetype piece = qMin<qsizetype>(pieces.at(i % pieces.size()), content.size() - done);
        checksum.update(content.constData() + done, std::size_t(piece));
        done += piece;
    }
    QCOMPARE(ImplantedChecksum::toCResult(checksum.finish()), expected);
    QCOMPARE(calls, byFile.calls);
}

void TestImplantedMd5::unusableInput()
{
    QCOMPARE(mediaCheckFile(nullptr, nullptr, nullptr), -2);
    QCOMPARE(checkFile(m_dir.filePath(QStringLiteral("missing.iso"))), -2);
    QCOMPARE(int(IsoImage::referenceVerdict(m_dir.filePath(QStringLiteral("missing.iso")))), -2);
    QCOMPARE(checkFile(m_dir.path()), -2);
    QCOMPARE(mediaCheckFD(-1, nullptr, nullptr), -2);

    Descriptor writeOnly { open(QFile::encodeName(m_base).constData(), O_WRONLY | O_CLOEXEC) };
    QVERIFY(writeOnly.fd >= 0);
    QCOMPARE(mediaCheckFD(writeOnly.fd, nullptr, nullptr), -2);

    const int closed = open(QFile::encodeName(m_base).constData(), O_RDONLY | O_CLOEXEC);
    QVERIFY(closed >= 0);
    close(closed);
    QCOMPARE(mediaCheckFD(closed, nullptr, nullptr), -2);
}

void TestImplantedMd5::ignoresDescriptorPosition()
{
    Descriptor descriptor { openDirect(m_base) };
    if (descriptor.fd < 0)
        descriptor.fd = open(QFile::encodeName(m_base).constData(), O_RDONLY | O_CLOEXEC);
    QVERIFY(descriptor.fd >= 0);
    QCOMPARE(lseek(descriptor.fd, 12288, SEEK_SET), off_t(12288));
    QCOMPARE(mediaCheckFD(descriptor.fd, nullptr, nullptr), 1);
    QCOMPARE(lseek(descriptor.fd, 0, SEEK_CUR), off_t(12288));
}

// A device with 4096-byte logical blocks, opened with O_DIRECT, refuses any
// read that is not aligned to 4096 bytes; the checked range here ends 2048
// bytes into a block.
void TestImplantedMd5::loopDeviceWith4kSectors()
{
    if (geteuid() != 0)
        QSKIP("needs root to set up a loop device");
    const QString tampered = copyOf(m_base, QStringLiteral("loop-tampered.iso"));
    QVERIFY(IsoImage::flipByte(tampered, m_total / 3));

    for (const auto &[image, expected] : { qMakePair(m_base, 1), qMakePair(tampered, 0) }) {
        QProcess losetup;
        losetup.start(QStringLiteral("losetup"),
                      { QStringLiteral("--find"), QStringLiteral("--show"), QStringLiteral("--read-only"),
                        QStringLiteral("--sector-size"), QStringLiteral("4096"), QStringLiteral("--direct-io=on"),
                        image });
        if (!losetup.waitForFinished() || losetup.exitCode() != 0)
            QSKIP(qPrintable(
                QStringLiteral("no loop device: %1").arg(QString::fromLocal8Bit(losetup.readAllStandardError()))));
        const QString device = QString::fromLocal8Bit(losetup.readAllStandardOutput()).trimmed();
        auto detach = qScopeGuard([&device] {
            QProcess::execute(QStringLiteral("losetup"), { QStringLiteral("-d"), device });
        });

        Descriptor descriptor { openDirect(device) };
        QVERIFY2(descriptor.fd >= 0, strerror(errno));
        int blockSize = 0;
        QCOMPARE(ioctl(descriptor.fd, BLKSSZGET, &blockSize), 0);
        QCOMPARE(blockSize, 4096);
        QCOMPARE(mediaCheckFD(descriptor.fd, nullptr, nullptr), expected);
    }
}

void TestImplantedMd5::realImage()
{
    const QString memtest
        = QStringLiteral(FLASHWRIGHT_BUILD_DIR "/image-cache/memtest86+/usr/lib/memtest86+/memtest86+x64.iso");
    if (!QFile::exists(memtest))
        QSKIP("memtest86+ image not downloaded (ctest fixture fetch_images)");
    const QString image = copyOf(memtest, QStringLiteral("memtest.iso"));
    QVERIFY(IsoImage::implant(image));
    QCOMPARE(checkFile(image), 1);
    QCOMPARE(int(IsoImage::referenceVerdict(image)), 1);

    QVERIFY(IsoImage::flipByte(image, IsoImage::volumeSize(image) / 2));
    QCOMPARE(checkFile(image), 0);
    QCOMPARE(int(IsoImage::referenceVerdict(image)), 0);
}

QTEST_GUILESS_MAIN(TestImplantedMd5)
#include "tst_implantedmd5.moc"
