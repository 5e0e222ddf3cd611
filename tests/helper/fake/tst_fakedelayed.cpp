// The write job started on the partial file of a download still running: it
// waits until the download has been moved to its finished name, and gives up
// quietly when the partial file is deleted instead.

#include "fakeudisks2.h"
#include "helperprocess.h"
#include "privatebus.h"
#include "testimages.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString kTarget = FakeUDisks2::blockPath(QStringLiteral("sdb"));

// A pause that lets the helper start watching the partial file before the
// test acts on it. Correctness does not depend on it: the helper must also
// cope with a change that happened before it started watching.
constexpr int kSettle = 300;

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
    bool startFake(const QString &deviceFile);

    PrivateBus m_bus { PrivateBus::System };
    FakeUDisks2 m_fake;
    QTemporaryDir m_dir;
    QString m_device;
};

void TestFakeDelayed::initTestCase()
{
    QVERIFY2(QFileInfo(HelperProcess::program()).isExecutable(), "the helper has not been built");
    QString why;
    if (!FakeUDisks2::isAvailable(&why))
        QSKIP(qPrintable(why));
    if (QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")).isEmpty())
        QSKIP("dbus-daemon is not installed");
    if (QStandardPaths::findExecutable(QStringLiteral("xz")).isEmpty())
        QSKIP("xz (xz-utils) is needed to make the compressed images");
    QVERIFY2(m_bus.start(), qPrintable(m_bus.errorString()));
    QVERIFY(m_dir.isValid());
    m_device = m_dir.filePath(QStringLiteral("device"));
}

void TestFakeDelayed::init()
{
    QVERIFY(TestImages::write(m_device, QByteArray()));
}

bool TestFakeDelayed::startFake(const QString &deviceFile)
{
    const QJsonObject target { { QStringLiteral("drive"), FakeUDisks2::drivePath(QStringLiteral("d1")) },
                               { QStringLiteral("filesystem"), QJsonObject() },
                               { QStringLiteral("open"), QJsonObject { { QStringLiteral("file"), deviceFile } } } };
    return m_fake.start({ { QStringLiteral("blocks"), QJsonObject { { kTarget, target } } } });
}

void TestFakeDelayed::cleanup()
{
    for (const QString &name : QDir(m_dir.path()).entryList({ QStringLiteral("download*") }, QDir::Files))
        QFile::remove(m_dir.filePath(name));
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

    const QByteArray image = TestImages::random(1000, 11);
    const QByteArray compressed = TestImages::xz(image);
    const QByteArray compressedTotal = QByteArray::number(compressed.size());

    const QString file;

    QTest::newRow("partial file deleted")
        << "download.iso" << image << Delete << 4 << QList<QByteArray>() << QByteArray() << QByteArray() << file;
    QTest::newRow("download finished") << "download.iso" << image << Rename << 0
                                       << QList<QByteArray> { "WRITE", "1", "1000", "CHECK", "DONE" }
                                       << QByteArray("OK\n") << TestImages::padded(image) << file;
    QTest::newRow("xz download finished: decompressed")
        << "download.img.xz" << compressed << Rename << 0
        << QList<QByteArray> { "WRITE", "1", compressedTotal, "CHECK", "DONE" } << QByteArray("OK\n")
        << TestImages::padded(image) << file;
    QTest::newRow("finished before the helper started") << "download.iso" << image << GoneBeforeStart << 0
                                                        << QList<QByteArray> { "WRITE", "1", "1000", "CHECK", "DONE" }
                                                        << QByteArray("OK\n") << TestImages::padded(image) << file;
    QTest::newRow("deleted before the helper started") << "download.iso" << QByteArray() << GoneBeforeStart << 4
                                                       << QList<QByteArray>() << QByteArray() << QByteArray() << file;
    // After the wait every failed copy ends with status 4, whatever its message.
    QTest::newRow("device full after the wait")
        << "download.iso" << image << Rename << 4 << QList<QByteArray> { "WRITE", "1" }
        << QByteArray("Destination drive is not writable") << QByteArray() << "/dev/full";
    const QByteArray noise = TestImages::random(65536, 14);
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
    QVERIFY2(startFake(device.isEmpty() ? m_device : device), qPrintable(m_fake.errorString()));

    const QString finished = m_dir.filePath(finishedName);
    const QString partial = finished + QStringLiteral(".part");
    if (action == GoneBeforeStart) {
        if (!finishedFile.isEmpty())
            QVERIFY(TestImages::write(finished, finishedFile));
    } else {
        // The download's first half is there when the helper starts.
        QVERIFY(TestImages::write(partial, finishedFile.left(finishedFile.size() / 2)));
    }

    HelperProcess helper;
    QVERIFY2(helper.launch({ QStringLiteral("write"), partial, kTarget }), qPrintable(helper.failure()));
    if (action != GoneBeforeStart) {
        QVERIFY2(m_fake.waitForCall(QStringLiteral("OpenDevice")), "the helper did not open the device");
        QTest::qWait(kSettle);
        QCOMPARE(helper.state(), QProcess::Running);
        if (action == Delete) {
            QVERIFY(QFile::remove(partial));
        } else {
            QVERIFY(TestImages::write(partial, finishedFile.mid(finishedFile.size() / 2), QIODevice::Append));
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
        QCOMPARE(TestImages::read(m_device), expectedDevice);
}

void TestFakeDelayed::growingFileKeepsWaiting()
{
    const QString partial = m_dir.filePath(QStringLiteral("download.iso.part"));
    QVERIFY(TestImages::write(partial, TestImages::random(1000, 12)));
    QVERIFY2(startFake(m_device), qPrintable(m_fake.errorString()));

    HelperProcess helper;
    QVERIFY2(helper.launch({ QStringLiteral("write"), partial, kTarget }), qPrintable(helper.failure()));
    QVERIFY2(m_fake.waitForCall(QStringLiteral("OpenDevice")), "the helper did not open the device");
    // Unmounting and opening happen at once, before the download has finished.
    QCOMPARE(m_fake.calls(QStringLiteral("Unmount")).size(), 1);
    QTest::qWait(kSettle);
    for (int i = 0; i < 3; ++i) {
        QVERIFY(TestImages::write(partial, TestImages::random(4096, 13 + i), QIODevice::Append));
        QTest::qWait(100);
    }
    QTest::qWait(kSettle);
    QCOMPARE(helper.state(), QProcess::Running);
    QCOMPARE(helper.readAllStandardOutput(), QByteArray());
    QCOMPARE(QFileInfo(m_device).size(), 0);
    helper.kill();
    QVERIFY(helper.waitForFinished(5000));
}

QTEST_GUILESS_MAIN(TestFakeDelayed)
#include "tst_fakedelayed.moc"
