// The simulated drives of --testing, through the drive list the pages see,
// with their notifications captured by dbusmock on a private session bus.
#include "dbusmock.h"
#include "drivemanager.h"
#include "fakedrive.h"
#include "fakedriveprovider.h"
#include "logcapture.h"
#include "options.h"
#include "privatebus.h"
#include "progress.h"
#include "releasevariant.h"
#include "testlocale.h"

#include <QAbstractItemModelTester>
#include <QCoreApplication>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {
constexpr qint64 kImageSize = 1000000;

QStringList rawNames(const DriveManager &manager)
{
    QStringList names;
    for (int row = 0; row < manager.rowCount(); ++row)
        names.append(manager.data(manager.index(row), DriveManager::DriveRole).value<Drive *>()->rawName());
    return names;
}

Drive *driveNamed(const DriveManager &manager, const QString &name)
{
    for (int row = 0; row < manager.rowCount(); ++row) {
        auto *drive = manager.data(manager.index(row), DriveManager::DriveRole).value<Drive *>();
        if (drive->rawName() == name)
            return drive;
    }
    return nullptr;
}
} // namespace

class TestFakeDrives : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void startUp();
    void everyOutcomeAtOnce();
    void tooSmallNeverStarts();
    void cancelStopsTheWrite();
    void timersDieWithTheDrive();
    void restoresAlternate();

private:
    // The program's drive list as --testing makes it, with the four drives of
    // the start and, when asked, the first "Contains Live" one.
    bool startList(bool withRestoreable);
    std::unique_ptr<ReleaseVariant> newImage(qint64 size = kImageSize);
    [[nodiscard]] QList<QStringList> notifications() { return m_server->notifications(); }

    PrivateBus m_sessionBus { PrivateBus::Session };
    std::unique_ptr<DBusMock> m_server;
    QTemporaryDir m_scratch;
    std::unique_ptr<DriveManager> m_manager;
    std::unique_ptr<QAbstractItemModelTester> m_tester;
};

void TestFakeDrives::initTestCase()
{
    TestLocale::pinEnglish();
    options.testing = true;
    QVERIFY(m_scratch.isValid());
    if (!m_sessionBus.start())
        QSKIP(qPrintable(QStringLiteral("no private session bus: ") + m_sessionBus.errorString()));
    const QString reason = DBusMock::unavailableReason();
    if (!reason.isEmpty())
        QSKIP(qPrintable(reason));
    QString why;
    m_server = DBusMock::startNotificationDaemon(&why);
    QVERIFY2(m_server, qPrintable(why));
}

void TestFakeDrives::init()
{
    m_server->control(QStringLiteral("ClearCalls"), {});
}

void TestFakeDrives::cleanup()
{
    m_tester.reset();
    m_manager.reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

bool TestFakeDrives::startList(bool withRestoreable)
{
    m_manager = std::make_unique<DriveManager>(&DriveProvider::create);
    m_tester = std::make_unique<QAbstractItemModelTester>(m_manager.get(),
                                                          QAbstractItemModelTester::FailureReportingMode::QtTest);
    if (!qobject_cast<FakeDriveProvider *>(m_manager->provider()))
        return false;
    const int expected = withRestoreable ? 5 : 4;
    return QTest::qWaitFor([this, expected] { return m_manager->length() == expected; }, 10000);
}

std::unique_ptr<ReleaseVariant> TestFakeDrives::newImage(qint64 size)
{
    return std::make_unique<ReleaseVariant>(nullptr, m_scratch.filePath(QStringLiteral("zelvan.iso")), size);
}

void TestFakeDrives::startUp()
{
    QVERIFY(startList(false));
    QCOMPARE(rawNames(*m_manager), (QStringList { "Not Large Enough", "Fails", "Gets Disconnected", "Okay" }));
    QVERIFY(m_manager->provider()->initialized());
    QCOMPARE(m_manager->lastRestoreable(), nullptr);

    // Two seconds later a live drive comes, is selected and offered for restoring.
    QSignalSpy restoreable(m_manager.get(), &DriveManager::restoreableDriveChanged);
    QVERIFY(restoreable.isValid());
    QVERIFY(restoreable.wait(5000));
    QCOMPARE(rawNames(*m_manager),
             (QStringList { "Not Large Enough", "Contains Live", "Fails", "Gets Disconnected", "Okay" }));
    QCOMPARE(m_manager->selectedIndex(), 1);
    QCOMPARE(m_manager->lastRestoreable(), m_manager->selected());
    QCOMPARE(m_manager->selected()->restoreStatus(), Drive::CONTAINS_LIVE);
    QVERIFY(m_manager->selected()->size() >= 4444444444.0);
}

// Every simulated write at once, so the suite waits for the longest only.
void TestFakeDrives::everyOutcomeAtOnce()
{
    const LogCapture log;
    QVERIFY(startList(false));
    auto okayImage = newImage();
    auto failsImage = newImage();
    auto disconnectsImage = newImage();
    Drive *okay = driveNamed(*m_manager, QStringLiteral("Okay"));
    Drive *fails = driveNamed(*m_manager, QStringLiteral("Fails"));
    Drive *disconnects = driveNamed(*m_manager, QStringLiteral("Gets Disconnected"));
    const QString disconnectsName = disconnects->name();
    QVERIFY(okay->write(okayImage.get()));
    QVERIFY(fails->write(failsImage.get()));
    QVERIFY(disconnects->write(disconnectsImage.get()));
    QCOMPARE(okayImage->status(), ReleaseVariant::WRITING);
    QCOMPARE(okay->progress()->to(), 12345678900.0);

    // 41 steps of 100 ms to half of "Fails" and of "Gets Disconnected".
    QTRY_COMPARE_WITH_TIMEOUT(failsImage->status(), ReleaseVariant::FAILED, 15000);
    QCOMPARE(failsImage->errorString(), QStringLiteral("Some error string."));
    QTRY_COMPARE_WITH_TIMEOUT(disconnectsImage->status(), ReleaseVariant::FAILED, 15000);
    QCOMPARE(disconnectsImage->errorString(), QStringLiteral("Drive %1 got disconnected.").arg(disconnectsName));
    QVERIFY(!m_manager->contains(disconnects));
    QCOMPARE(okayImage->status(), ReleaseVariant::WRITING);

    // 100 steps for "Okay".
    QTRY_COMPARE_WITH_TIMEOUT(okayImage->status(), ReleaseVariant::FINISHED, 15000);
    QCOMPARE(okay->progress()->value(), 12345678900.0);

    // The pulled drive comes back smaller and goes again after 5 steps.
    Drive *again = nullptr;
    QTRY_VERIFY_WITH_TIMEOUT((again = driveNamed(*m_manager, QStringLiteral("Gets Disconnected"))), 10000);
    QCOMPARE(again->size(), 1000000000.0);
    auto againImage = newImage();
    QVERIFY(again->write(againImage.get()));
    QTRY_COMPARE_WITH_TIMEOUT(againImage->status(), ReleaseVariant::FAILED, 5000);
    QVERIFY(!m_manager->contains(again));

    // Two drives fail in the same step; their order is not told apart.
    QList<QStringList> sent = notifications();
    std::sort(sent.begin(), sent.end());
    const QList<QStringList> expected {
        { "Failed", "FAILED" }, { "Failed", "FAILED" }, { "Failed", "FAILED" }, { "Success", "Yes!" }
    };
    QCOMPARE(sent, expected);

    // The verbose log tells arrivals and outcomes, so a script that drives
    // the program can wait for them.
    for (const char *line : { "FakeDriveProvider Connected \"Okay\" 12345678900", "FakeDrive Writing to \"Okay\"",
                              "FakeDrive Wrote \"Okay\"", "FakeDrive Writing to \"Fails\" failed",
                              "FakeDrive \"Gets Disconnected\" disconnected",
                              "FakeDriveProvider Connected \"Gets Disconnected\" 1000000000" })
        QVERIFY2(log.contains(QLatin1String(line)), line);
}

void TestFakeDrives::tooSmallNeverStarts()
{
    QVERIFY(startList(false));
    Drive *small = driveNamed(*m_manager, QStringLiteral("Not Large Enough"));
    auto image = newImage(20000);
    QVERIFY(!small->write(image.get()));
    QCOMPARE(image->errorString(), QStringLiteral("This drive is not large enough."));
    QCOMPARE(image->status(), ReleaseVariant::FAILED);
    QVERIFY(!QTest::qWaitFor([&] { return small->progress()->value() != 0.0; }, 300));
    QVERIFY(!small->isBusy());

    // An image whose size is not announced always passes the check.
    auto unknown = newImage(0);
    QVERIFY(small->write(unknown.get()));
    small->cancel();
}

void TestFakeDrives::cancelStopsTheWrite()
{
    QVERIFY(startList(false));
    Drive *okay = driveNamed(*m_manager, QStringLiteral("Okay"));
    auto image = newImage();
    QVERIFY(okay->write(image.get()));
    QTRY_VERIFY(okay->progress()->value() >= 2 * 123456789.0);

    okay->cancel();
    const double stoppedAt = okay->progress()->value();
    QCOMPARE(image->status(), ReleaseVariant::FAILED);
    QCOMPARE(image->errorString(), QStringLiteral("Stopped before writing has finished."));
    QVERIFY(!okay->isBusy());
    QVERIFY(!QTest::qWaitFor([&] { return okay->progress()->value() != stoppedAt; }, 400));
    QCOMPARE(image->status(), ReleaseVariant::FAILED);
    QVERIFY(notifications().isEmpty());
}

void TestFakeDrives::timersDieWithTheDrive()
{
    QVERIFY(startList(false));
    Drive *fails = driveNamed(*m_manager, QStringLiteral("Fails"));
    auto image = newImage();
    QVERIFY(fails->write(image.get()));
    QTRY_VERIFY(fails->progress()->value() > 0);
    emit m_manager->provider()->driveRemoved(fails);
    delete fails;
    QVERIFY(!QTest::qWaitFor([&] { return image->status() != ReleaseVariant::WRITING; }, 500));
    QVERIFY(notifications().isEmpty());
}

// Restoring ends by the parity of the size; the restored drive goes and a
// new live drive with the next size comes.
void TestFakeDrives::restoresAlternate()
{
    const LogCapture log;
    QVERIFY(startList(true));
    Drive *live = m_manager->lastRestoreable();
    QVERIFY(live);
    const quint64 size = live->byteSize();
    QList<Drive::RestoreStatus> seen;
    connect(live, &Drive::restoreStatusChanged, this, [&] { seen.append(live->restoreStatus()); });

    live->restore();
    QVERIFY(live->isBusy());
    QTRY_COMPARE_WITH_TIMEOUT(seen.size(), 2, 10000);
    const auto outcome = [](quint64 bytes) { return bytes % 2 ? Drive::RESTORE_ERROR : Drive::RESTORED; };
    QCOMPARE(seen, (QList<Drive::RestoreStatus> { Drive::RESTORING, outcome(size) }));
    QVERIFY(log.contains(QStringLiteral("FakeDriveProvider Connected \"Contains Live\" %1").arg(size)));
    QVERIFY(log.contains(QStringLiteral("FakeDrive Restoring \"Contains Live\" %1 ended with Drive::%2")
                             .arg(size)
                             .arg(QLatin1String(size % 2 ? "RESTORE_ERROR" : "RESTORED"))));
    QCOMPARE(m_manager->lastRestoreable(), nullptr);

    // Gone after 5 s, and 2 s later the next one.
    QTRY_VERIFY_WITH_TIMEOUT(!m_manager->contains(live), 10000);
    Drive *next = nullptr;
    QTRY_VERIFY_WITH_TIMEOUT((next = driveNamed(*m_manager, QStringLiteral("Contains Live"))), 10000);
    QCOMPARE(next->byteSize(), size + 1);
    QCOMPARE(m_manager->lastRestoreable(), next);
    next->restore();
    QTRY_COMPARE_WITH_TIMEOUT(next->restoreStatus(), outcome(size + 1), 10000);
    QVERIFY(notifications().isEmpty());
}

QTEST_GUILESS_MAIN(TestFakeDrives)
#include "tst_fakedrives.moc"
