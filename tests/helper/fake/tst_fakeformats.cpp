// Compressed images other than xz: gzip, bzip2, zstd and a zip archive with
// one file, recognised by their first bytes and decoded while written, onto
// a "device" that the fake UDisks2 service hands out as an ordinary file
// (or /dev/full).

#include "helperfixture.h"
#include "helperprocess.h"
#include "testimages.h"
#include "filecontents.h"

#include <QFile>
#include <QTest>

namespace {

const QString kTarget = FakeUDisks2::blockPath(QStringLiteral("sdb"));

QByteArray note(const char *format)
{
    return QByteArray("Note: the image is compressed with ") + format
        + " although its name does not say so; it was decompressed while it was written.\n";
}

// One byte changed in the middle of the data.
QByteArray damaged(QByteArray data)
{
    data[data.size() / 2] = char(data.at(data.size() / 2) ^ 0x55);
    return data;
}

} // namespace

class TestFakeFormats : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void writes_data();
    void writes();
    void failures_data();
    void failures();

private:
    HelperFixture m_fixture;
};

void TestFakeFormats::initTestCase()
{
    QString why;
    const HelperFixture::Outcome outcome = m_fixture.start(HelperFixture::NeedsCompressors, &why);
    if (outcome == HelperFixture::Unavailable)
        QSKIP(qPrintable(why));
    QVERIFY2(outcome == HelperFixture::Ready, qPrintable(why));
}

void TestFakeFormats::writes_data()
{
    QTest::addColumn<QString>("imageName");
    QTest::addColumn<QByteArray>("imageFile");
    QTest::addColumn<QByteArray>("image"); // what the device must hold
    QTest::addColumn<QByteArray>("expectedErrors");
    // The last copy total: the file's size, or for a zip archive the end of
    // its one file's data, which is all that is read of it.
    QTest::addColumn<qint64>("lastTotal");

    const QByteArray ok("OK\n");
    const QByteArray small = FileContents::random(1000, 11);
    const QByteArray second = FileContents::random(3000, 12);
    const QByteArray pattern = TestImages::pattern(2 * TestImages::bufferSize() + 1000);
    // Random data does not shrink: its compressed file spans two input buffers.
    const QByteArray noise = FileContents::random(TestImages::bufferSize() + 1000, 13);
    const auto whole = [](const QByteArray &file) { return qint64(file.size()); };

    for (const char *program : { "gzip", "bzip2", "zstd" }) {
        const QString tool = QLatin1String(program);
        const QString suffix = tool == QLatin1String("gzip") ? QStringLiteral(".gz")
            : tool == QLatin1String("bzip2")                 ? QStringLiteral(".bz2")
                                                             : QStringLiteral(".zst");
        const QByteArray one = TestImages::compressed(tool, small);
        QTest::addRow("%s", program) << "image.img" + suffix << one << small << ok << whole(one);
        const QByteArray many = TestImages::compressed(tool, pattern);
        QTest::addRow("%s, more than one output buffer", program)
            << "image.raw" + suffix << many << pattern << ok << whole(many);
        const QByteArray large = TestImages::compressed(tool, noise);
        QTest::addRow("%s, more than one input buffer", program)
            << "image.img" + suffix << large << noise << ok << whole(large);
        // As parallel compressors write them, and as cat joins two files.
        const QByteArray two = one + TestImages::compressed(tool, second);
        QTest::addRow("%s, two streams one after the other", program)
            << "image.img" + suffix << two << small + second << ok << whole(two);
    }
    const QByteArray sized = TestImages::compressed(QStringLiteral("zstd"), pattern,
                                                    { QStringLiteral("--stream-size=%1").arg(pattern.size()) });
    QTest::newRow("zstd with its size in the frame") << "image.img.zst" << sized << pattern << ok << whole(sized);

    // After the local header of the archive's first entry, its name and
    // extra field, the compressed size from the directory's last entry.
    const auto dataEnd = [](const QByteArray &archive) {
        const auto le = [&archive](qsizetype at, int bytes) {
            qint64 value = 0;
            for (int i = bytes - 1; i >= 0; --i)
                value = value << 8 | quint8(archive.at(at + i));
            return value;
        };
        const qsizetype entry = archive.lastIndexOf("PK\x01\x02");
        const qint64 local = le(entry + 42, 4);
        return local + 30 + le(local + 26, 2) + le(local + 28, 2) + le(entry + 20, 4);
    };
    const QByteArray deflated = TestImages::zip({ { QStringLiteral("image.img"), pattern } });
    QTest::newRow("zip, deflated") << "image.zip" << deflated << pattern << ok << dataEnd(deflated);
    const QByteArray stored = TestImages::zip({ { QStringLiteral("image.img"), noise } }, { QStringLiteral("-0") });
    QTest::newRow("zip, stored") << "image.zip" << stored << noise << ok << dataEnd(stored);
    // The sizes follow the data (as streaming tools write them): the directory has them.
    const QByteArray descriptors
        = TestImages::zip({ { QStringLiteral("image.img"), small } }, { QStringLiteral("-fd"), QStringLiteral("-0") });
    QTest::newRow("zip with sizes after the data")
        << "image.zip" << descriptors << small << ok << dataEnd(descriptors);
    const QByteArray inFolder
        = TestImages::zip({ { QStringLiteral("disk/"), {} }, { QStringLiteral("disk/image.img"), small } });
    QTest::newRow("zip with a folder and the image in it")
        << "image.zip" << inFolder << small << ok << dataEnd(inFolder);

    // The first bytes decide; a name that does not say so gets a note.
    const QByteArray gzip = TestImages::compressed(QStringLiteral("gzip"), small);
    QTest::newRow("gzip named .img") << "image.img" << gzip << small << note("gzip") + ok << whole(gzip);
    QTest::newRow("zstd named .iso") << "image.iso" << TestImages::compressed(QStringLiteral("zstd"), small) << small
                                     << note("zstd") + ok
                                     << whole(TestImages::compressed(QStringLiteral("zstd"), small));
    QTest::newRow("gzip named .zst") << "image.img.zst" << gzip << small << note("gzip") + ok << whole(gzip);
    QTest::newRow("xz named .XZ") << "image.img.XZ" << FileContents::xz(small) << small << note("xz") + ok
                                  << whole(FileContents::xz(small));
    QTest::newRow("zip named .img") << "image.img" << deflated << pattern << note("zip") + ok << dataEnd(deflated);
}

void TestFakeFormats::writes()
{
    QFETCH(QString, imageName);
    QFETCH(QByteArray, imageFile);
    QFETCH(QByteArray, image);
    QFETCH(QByteArray, expectedErrors);
    QFETCH(qint64, lastTotal);
    QVERIFY2(!imageFile.isEmpty(), "the compressor failed");

    const QString path = m_fixture.filePath(imageName);
    QVERIFY(FileContents::write(path, imageFile));
    QVERIFY(FileContents::write(m_fixture.device(), QByteArray()));
    QVERIFY2(m_fixture.startFake(m_fixture.device()), qPrintable(m_fixture.fake().errorString()));

    HelperProcess helper;
    QVERIFY2(helper.run({ QStringLiteral("write"), path, kTarget }), qPrintable(helper.failure()));
    QCOMPARE(helper.errors(), expectedErrors);
    QCOMPARE(helper.exitCode(), 0);

    // Copy totals count the file's bytes read; the last one repeats while
    // the decoder drains.
    QList<QByteArray> lines = helper.outputLines();
    const qsizetype check = lines.indexOf("CHECK");
    QVERIFY2(check > 0, helper.output().constData());
    QCOMPARE(lines.mid(check),
             QList<QByteArray> { "CHECK" } + TestImages::readBackOffsets(image.size()) + QList<QByteArray> { "DONE" });
    qint64 previous = 0;
    for (const QByteArray &line : lines.mid(0, check)) {
        QVERIFY2(line.toLongLong() >= previous, helper.output().constData());
        previous = line.toLongLong();
    }
    QCOMPARE(previous, lastTotal);
    QCOMPARE(FileContents::read(m_fixture.device()), TestImages::padded(image));
    QFile::remove(path);
}

void TestFakeFormats::failures_data()
{
    QTest::addColumn<QString>("imageName");
    QTest::addColumn<QByteArray>("imageFile");
    QTest::addColumn<QString>("device"); // empty: the test's device file
    QTest::addColumn<QByteArray>("expectedErrors");
    QTest::addColumn<int>("expectedStatus");
    // Refused before UDisks2 was asked for anything (nothing unmounted,
    // nothing opened, no progress).
    QTest::addColumn<bool>("beforeTheDrive");

    const QByteArray corrupted("The downloaded compressed file is corrupted.");
    const QByteArray pattern = TestImages::pattern(TestImages::bufferSize() + 5000);
    const QByteArray small = FileContents::random(1000, 14);
    const QByteArray noise = FileContents::random(65536, 15);

    const QByteArray noFile("The zip archive holds no file: there is nothing to write.");
    QTest::newRow("zip with only a folder")
        << "image.zip" << TestImages::zip({ { QStringLiteral("empty/"), {} } }) << QString() << noFile << 4 << true;
    QTest::newRow("empty zip archive") << "image.zip" << QByteArray("PK\x05\x06", 4) + QByteArray(18, '\0')
                                       << QString() << noFile << 4 << true;
    QTest::newRow("zip with two files")
        << "images.zip"
        << TestImages::zip({ { QStringLiteral("one.img"), small }, { QStringLiteral("two.img"), small } })
        << QString()
        << QByteArray("The zip archive holds 2 files. Only an archive that holds exactly one file, the image, can be "
                      "written: unpack it and choose the image.")
        << 4 << true;
    QTest::newRow("encrypted zip")
        << "image.zip"
        << TestImages::zip({ { QStringLiteral("image.img"), small } }, { QStringLiteral("-P"), QStringLiteral("pw") })
        << QString() << QByteArray("Unsupported compression options.") << 4 << true;
    const QByteArray zip = TestImages::zip({ { QStringLiteral("image.img"), pattern } });
    QTest::newRow("zip cut short") << "image.zip" << zip.left(zip.size() / 2) << QString() << corrupted << 4 << true;
    QTest::newRow("random bytes named .zip") << "image.zip" << noise << QString() << corrupted << 4 << true;
    // Stored data has no check of its own: the directory's CRC-32 catches it.
    QTest::newRow("stored zip with a damaged byte")
        << "image.zip" << damaged(TestImages::zip({ { QStringLiteral("image.img"), noise } }, { QStringLiteral("-0") }))
        << QString() << corrupted << 4 << false;
    QTest::newRow("deflated zip with a damaged byte") << "image.zip" << damaged(zip) << QString() << corrupted << 4
                                                      << false;

    for (const char *program : { "gzip", "bzip2", "zstd" }) {
        const QString tool = QLatin1String(program);
        const QString name = tool == QLatin1String("gzip") ? QStringLiteral("image.img.gz")
            : tool == QLatin1String("bzip2")               ? QStringLiteral("image.img.bz2")
                                                           : QStringLiteral("image.img.zst");
        const QByteArray stream = TestImages::compressed(tool, pattern);
        QTest::addRow("%s with a damaged byte", program) << name << damaged(stream) << QString() << corrupted << 4
                                                         << false;
        QTest::addRow("%s cut short", program)
            << name << stream.left(stream.size() - 100) << QString() << corrupted << 4 << false;
        QTest::addRow("%s followed by other bytes", program)
            << name << stream + QByteArray("not compressed") << QString() << corrupted << 4 << false;
        QTest::addRow("random bytes named like %s", program) << name << noise << QString() << corrupted << 4 << false;
        QTest::addRow("%s, device full", program) << name << TestImages::compressed(tool, small)
                                                  << QStringLiteral("/dev/full")
                                                  << QByteArray("Destination drive is not writable") << 3 << false;
    }
    QTest::newRow("empty file named .gz") << "image.img.gz" << QByteArray() << QString() << corrupted << 4 << false;
}

void TestFakeFormats::failures()
{
    QFETCH(QString, imageName);
    QFETCH(QByteArray, imageFile);
    QFETCH(QString, device);
    QFETCH(QByteArray, expectedErrors);
    QFETCH(int, expectedStatus);
    QFETCH(bool, beforeTheDrive);
    QVERIFY2(!imageFile.isEmpty() || imageName.startsWith(QLatin1String("image.img.gz")), "the compressor failed");

    const QString path = m_fixture.filePath(imageName);
    QVERIFY(FileContents::write(path, imageFile));
    QVERIFY(FileContents::write(m_fixture.device(), QByteArray()));
    QVERIFY2(m_fixture.startFake(device.isEmpty() ? m_fixture.device() : device),
             qPrintable(m_fixture.fake().errorString()));

    HelperProcess helper;
    QVERIFY2(helper.run({ QStringLiteral("write"), path, kTarget }), qPrintable(helper.failure()));
    QCOMPARE(helper.errors(), expectedErrors);
    QCOMPARE(helper.exitCode(), expectedStatus);
    // A failed copy is never verified.
    QVERIFY2(!helper.outputLines().contains("CHECK"), helper.output().constData());
    if (beforeTheDrive) {
        QCOMPARE(helper.output(), QByteArray());
        QCOMPARE(m_fixture.fake().calls().size(), 0);
    } else {
        QVERIFY2(!helper.outputLines().isEmpty(), "no progress before the failure");
    }
    QFile::remove(path);
}

QTEST_GUILESS_MAIN(TestFakeFormats)
#include "tst_fakeformats.moc"
