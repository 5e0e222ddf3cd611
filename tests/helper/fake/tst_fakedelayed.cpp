// The write job started on the partial file of a download still running: it
// waits until the download has been moved to its finished name, and gives up
// quietly when the partial file is deleted instead.

#include "helperfixture.h"
#include "helperprocess.h"
#include "testimages.h"

#include "filecontents.h"
#include "programrun.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTest>

namespace {

const QString kTarget = FakeUDisks2::blockPath(QStringLiteral("sdb"));

// How long the helper is given to react, wrongly, to a file still growing.
constexpr int kSettle = 300;

const QJsonObject kFilesystem { { QStringLiteral("filesystem"), QJsonObject() } };

} // namespace

class TestFakeDelayed : public QObject
{
    Q_OBJECT

public:
    // What happens to the partial file once the helper is waiting.
    enum Action { Delete, Rename, GoneBeforeStart };
    Q_ENUM(Action)

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void ends_data();
    void ends();
    void growingFileKeepsWaiting();

private:
    HelperFixture m_fixture;
};

void TestFakeDelayed::initTestCase()
{
    HELPER_FIXTURE_START(m_fixture, HelperFixture::NeedsXz);
}

void TestFakeDelayed::init()
{
    QVERIFY(FileContents::write(m_fixture.device(), QByteArray()));
}

void TestFakeDelayed::cleanup()
{
    for (const QString &name : QDir(m_fixture.path()).entryList({ QStringLiteral("download*") }, QDir::Files))
        QFile::remove(m_fixture.filePath(name));
}

void TestFakeDelayed::ends_data()
{
    QTest::addColumn<QString>("finishedName");
    QTest::addColumn<QByteArray>("finishedFile");
    QTest::addColumn<Action>("action");
    QTest::addColumn<int>("expectedStatus");
    QTest::addColumn<QList<QByteArray>>("expectedOutput"); // repeated totals folded
    QTest::addColumn<QByteArray>("expectedErrors");
    QTest::addColumn<QByteArray>("expectedDevice");
    QTest::addColumn<QString>("device"); // empty: the test's device file

    const QByteArray image = FileContents::random(1000, 11);
    const QByteArray compressed = FileContents::xz(image);
    const QByteArray compressedTotal = QByteArray::number(compressed.size());

    const QString file;

    QTest::newRow("partial file deleted")
        << "download.iso" << image << Delete << 4 << QList<QByteArray>() << QByteArray() << QByteArray() << file;
    QTest::newRow("download finished") << "download.iso" << image << Rename << 0
                                       << QList<QByteArray> { "WRITE", "1", "1000", "CHECK", "1000", "DONE" }
                                       << QByteArray("OK\n") << TestImages::padded(image) << file;
    QTest::newRow("xz download finished: decompressed")
        << "download.img.xz" << compressed << Rename << 0
        << QList<QByteArray> { "WRITE", "1", compressedTotal, "CHECK", "1000", "DONE" } << QByteArray("OK\n")
        << TestImages::padded(image) << file;
    QTest::newRow("finished before the helper started")
        << "download.iso" << image << GoneBeforeStart << 0
        << QList<QByteArray> { "WRITE", "1", "1000", "CHECK", "1000", "DONE" } << QByteArray("OK\n")
        << TestImages::padded(image) << file;
    QTest::newRow("deleted before the helper started") << "download.iso" << QByteArray() << GoneBeforeStart << 4
                                                       << QList<QByteArray>() << QByteArray() << QByteArray() << file;
    // After the wait every failed copy ends with status 4, whatever its message.
    QTest::newRow("device full after the wait")
        << "download.iso" << image << Rename << 4 << QList<QByteArray> { "WRITE", "1" }
        << QByteArray("Destination drive is not writable") << QByteArray() << "/dev/full";
    // Judged once it is there, before anything is written.
    QTest::newRow("empty download") << "download.iso" << QByteArray() << Rename << 2 << QList<QByteArray>()
                                    << QByteArray("The image is empty: there is nothing to write.") << QByteArray()
                                    << file;
    QTest::newRow("ISO download shorter than its volume")
        << "download.iso" << TestImages::isoStart(8 << 20) << Rename << 2 << QList<QByteArray>()
        << QByteArray("The image file is incomplete: it is shorter than the ISO volume it describes.") << QByteArray()
        << file;
    const QByteArray noise = FileContents::random(65536, 14);
    QTest::newRow("corrupted xz download")
        << "download.img.xz" << noise << Rename << 4 << QList<QByteArray> { "WRITE", "1", "65536" }
        << QByteArray("The downloaded compressed file is corrupted.") << QByteArray() << file;
}

void TestFakeDelayed::ends()
{
    QFETCH(QString, finishedName);
    QFETCH(QByteArray, finishedFile);
    QFETCH(Action, action);
    QFETCH(int, expectedStatus);
    QFETCH(QList<QByteArray>, expectedOutput);
    QFETCH(QByteArray, expectedErrors);
    QFETCH(QByteArray, expectedDevice);
    QFETCH(QString, device);
    QVERIFY2(m_fixture.startFake(device.isEmpty() ? m_fixture.device() : device, kFilesystem),
             qPrintable(m_fixture.fake().errorString()));

    const QString finished = m_fixture.filePath(finishedName);
    const QString partial = finished + QStringLiteral(".part");
    if (action == GoneBeforeStart) {
        if (!finishedFile.isEmpty())
            QVERIFY(FileContents::write(finished, finishedFile));
    } else {
        // The download's first half is there when the helper starts.
        QVERIFY(FileContents::write(partial, finishedFile.left(finishedFile.size() / 2)));
    }

    HelperProcess helper;
    QVERIFY2(helper.launch({ QStringLiteral("write"), partial, kTarget }), qPrintable(helper.failure()));
    if (action != GoneBeforeStart) {
        QVERIFY2(m_fixture.fake().waitForCall(QStringLiteral("OpenDevice")), "the helper did not open the device");
        QVERIFY2(waitForInotifyWatch(helper), "the helper does not wait for the download");
        if (action == Delete) {
            QVERIFY(QFile::remove(partial));
        } else {
            QVERIFY(FileContents::write(partial, finishedFile.mid(finishedFile.size() / 2), QIODevice::Append));
            QVERIFY(QFile::rename(partial, finished));
        }
    }
    QVERIFY2(helper.finish(), qPrintable(helper.failure()));
    QCOMPARE(helper.errors(), expectedErrors);
    QCOMPARE(helper.exitCode(), expectedStatus);
    QList<QByteArray> lines = helper.outputLines();
    lines.erase(std::unique(lines.begin(), lines.end()), lines.end());
    QCOMPARE(lines, expectedOutput);
    if (device.isEmpty())
        QCOMPARE(FileContents::read(m_fixture.device()), expectedDevice);
}

void TestFakeDelayed::growingFileKeepsWaiting()
{
    const QString partial = m_fixture.filePath(QStringLiteral("download.iso.part"));
    QVERIFY(FileContents::write(partial, FileContents::random(1000, 12)));
    QVERIFY2(m_fixture.startFake(m_fixture.device(), kFilesystem), qPrintable(m_fixture.fake().errorString()));

    HelperProcess helper;
    QVERIFY2(helper.launch({ QStringLiteral("write"), partial, kTarget }), qPrintable(helper.failure()));
    QVERIFY2(m_fixture.fake().waitForCall(QStringLiteral("OpenDevice")), "the helper did not open the device");
    // Unmounting and opening happen at once, before the download has finished.
    QCOMPARE(m_fixture.fake().calls(QStringLiteral("Unmount")).size(), 1);
    QVERIFY2(waitForInotifyWatch(helper), "the helper does not wait for the download");
    // Each growth is seen and answered by waiting on: no line, no end.
    for (int i = 0; i < 3; ++i) {
        QVERIFY(FileContents::write(partial, FileContents::random(4096, 13 + i), QIODevice::Append));
        QVERIFY(!helper.waitForReadyRead(kSettle));
    }
    QCOMPARE(helper.state(), QProcess::Running);
    QCOMPARE(helper.readAllStandardOutput(), QByteArray());
    QCOMPARE(QFileInfo(m_fixture.device()).size(), 0);
    helper.kill();
    QVERIFY(helper.waitForFinished(5000));
}

QTEST_GUILESS_MAIN(TestFakeDelayed)
#include "tst_fakedelayed.moc"
