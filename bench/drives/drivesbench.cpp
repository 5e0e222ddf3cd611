// Drive discovery against the fake UDisks2 service holding 1, 20 and 200
// sticks, on a private system bus:
//   - a full scan, from the drive list's construction to its first finished
//     scan, against the baseline of the bare GetManagedObjects round trip
//     with the reply decoded (what any scan must pay);
//   - a hot-plug, from the InterfacesAdded of one more stick reaching this
//     process to the stick's row in the model, against the signal answered
//     by a bare scan request (the fake's own share of the time);
//   - the longest time the main thread was blocked meanwhile (the largest gap
//     between ticks of a 1 ms timer, less 1 ms), against the same measure
//     taken while nothing happens.
// Usage: drivesbench [COUNT...] (default 1 20 200). Prints one block per count.
#include "dbustypes.h"
#include "drivemanager.h"
#include "fakeudisks2.h"
#include "linuxdrive.h"
#include "linuxdriveprovider.h"
#include "privatebus.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <cstdio>

using namespace UdisksObjects;

namespace {
constexpr int kRuns = 9;
const QString kService = QStringLiteral("org.freedesktop.UDisks2");
const QString kRoot = QStringLiteral("/org/freedesktop/UDisks2");
const QString kObjectManager = QStringLiteral("org.freedesktop.DBus.ObjectManager");

double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    return values.isEmpty() ? 0.0 : values.at(values.size() / 2);
}

double maximum(const QList<double> &values)
{
    return values.isEmpty() ? 0.0 : *std::max_element(values.cbegin(), values.cend());
}

// The largest gap between ticks of a 1 ms timer while it watches.
class Watchdog : public QObject
{
public:
    Watchdog()
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(1);
        connect(&m_timer, &QTimer::timeout, this, [this] {
            const qint64 now = m_clock.nsecsElapsed();
            m_longest = std::max(m_longest, now - m_last);
            m_last = now;
        });
    }
    void start()
    {
        m_longest = 0;
        m_clock.start();
        m_last = 0;
        m_timer.start();
    }
    // Milliseconds the loop could not run, beyond the timer's own interval.
    double stop()
    {
        m_timer.stop();
        return std::max(0.0, m_longest / 1e6 - 1.0);
    }

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_last = 0;
    qint64 m_longest = 0;
};

// Notes when this process receives InterfacesAdded of a block object.
class AddedWatcher : public QObject
{
    Q_OBJECT

public:
    QElapsedTimer clock;
    qint64 receivedAt = -1;
    // For the baseline: answer the signal with a scan request of our own and
    // note when its reply has been decoded.
    bool requestOnSignal = false;
    qint64 answeredAt = -1;

public slots:
    void onInterfacesAdded(const QDBusMessage &message)
    {
        const auto interfaces = qdbus_cast<InterfacesAndProperties>(message.arguments().value(1));
        if (!interfaces.contains(QStringLiteral("org.freedesktop.UDisks2.Block")))
            return;
        receivedAt = clock.nsecsElapsed();
        if (!requestOnSignal)
            return;
        const QDBusMessage call = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.UDisks2"), QStringLiteral("/org/freedesktop/UDisks2"),
            QStringLiteral("org.freedesktop.DBus.ObjectManager"), QStringLiteral("GetManagedObjects"));
        auto *watcher = new QDBusPendingCallWatcher(QDBusConnection::systemBus().asyncCall(call), this);
        connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *w) {
            w->deleteLater();
            const QDBusPendingReply<DBusIntrospection> reply = *w;
            if (!reply.value().isEmpty())
                answeredAt = clock.nsecsElapsed();
        });
    }
};

// sda, sdb, ... sdz, sdaa, ...: whole-disk names never end in a digit.
QString diskName(int index)
{
    QString letters;
    do {
        letters.prepend(QChar(u'a' + index % 26));
        index = index / 26 - 1;
    } while (index >= 0);
    return QStringLiteral("sd") + letters;
}

Layout sticks(int count)
{
    Layout layout;
    for (int i = 0; i < count; ++i) {
        DriveObject stick;
        stick.model = QStringLiteral("Cruzer %1").arg(i);
        stick.size = 8000000000LL + i * 1000000LL;
        layout.stick(diskName(i), stick, { QStringLiteral("vfat") });
    }
    return layout;
}

// A change of the fake service without waiting for its answer: a blocking
// call here would count as the program's own blocking.
void sendToFake(const QString &method, const QString &path, const QJsonObject &config)
{
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kRoot,
                                                       QStringLiteral("org.flashwright.FakeUDisks2.Control"), method);
    call << path << QString::fromUtf8(QJsonDocument(config).toJson(QJsonDocument::Compact));
    QDBusConnection::systemBus().asyncCall(call);
}

double roundTripMs()
{
    QElapsedTimer clock;
    clock.start();
    const QDBusMessage call
        = QDBusMessage::createMethodCall(kService, kRoot, kObjectManager, QStringLiteral("GetManagedObjects"));
    QDBusPendingReply<DBusIntrospection> reply = QDBusConnection::systemBus().asyncCall(call);
    reply.waitForFinished();
    const DBusIntrospection objects = reply.value();
    if (objects.isEmpty())
        qFatal("GetManagedObjects gave nothing: %s", qPrintable(reply.error().message()));
    return clock.nsecsElapsed() / 1e6;
}

bool measure(int count, AddedWatcher &watcher)
{
    FakeUDisks2 fake;
    if (!fake.start(sticks(count).json())) {
        std::fprintf(stderr, "the fake UDisks2 did not start: %s\n", qPrintable(fake.errorString()));
        return false;
    }
    Watchdog watchdog;

    QList<double> baseline;
    for (int run = 0; run < kRuns; ++run)
        baseline.append(roundTripMs());

    watchdog.start();
    QTest::qWait(300);
    const double idleBlocked = watchdog.stop();

    QList<double> scans;
    double scanBlocked = 0;
    for (int run = 0; run < kRuns; ++run) {
        QElapsedTimer clock;
        watchdog.start();
        clock.start();
        DriveManager manager([](DriveManager *m) { return new LinuxDriveProvider(m); });
        QSignalSpy scanned(manager.provider(), &DriveProvider::initializedChanged);
        if (!scanned.wait(30000) || manager.length() != count) {
            std::fprintf(stderr, "scan of %d drives failed (%d listed)\n", count, manager.length());
            return false;
        }
        scans.append(clock.nsecsElapsed() / 1e6);
        scanBlocked = std::max(scanBlocked, watchdog.stop());
    }

    // Hot-plug baseline: the signal answered with a bare scan request, no drive list.
    QList<double> plugBaseline;
    watcher.requestOnSignal = true;
    for (int run = 0; run < kRuns; ++run) {
        const QString block = QStringLiteral("base") + diskName(run);
        const QString drive = QStringLiteral("drive_") + block;
        watcher.receivedAt = -1;
        watcher.answeredAt = -1;
        sendToFake(QStringLiteral("AddObject"), FakeUDisks2::drivePath(drive), DriveObject().json());
        sendToFake(QStringLiteral("AddObject"), FakeUDisks2::blockPath(block), disk(drive));
        if (!QTest::qWaitFor([&] { return watcher.answeredAt >= 0; }, 30000))
            return false;
        plugBaseline.append((watcher.answeredAt - watcher.receivedAt) / 1e6);
        if (!fake.removeObject(FakeUDisks2::blockPath(block)) || !fake.removeObject(FakeUDisks2::drivePath(drive)))
            return false;
    }
    watcher.requestOnSignal = false;

    DriveManager manager([](DriveManager *m) { return new LinuxDriveProvider(m); });
    QSignalSpy scanned(manager.provider(), &DriveProvider::initializedChanged);
    if (!scanned.wait(30000))
        return false;
    QList<double> plugs;
    double plugBlocked = 0;
    for (int run = 0; run < kRuns; ++run) {
        const QString block = QStringLiteral("hot") + diskName(run);
        const QString drive = QStringLiteral("drive_") + block;
        qint64 rowAt = -1;
        const auto connection = QObject::connect(&manager, &DriveManager::rowsInserted, &manager, [&] {
            for (int row = 0; row < manager.rowCount(); ++row) {
                auto *listed = static_cast<LinuxDrive *>(
                    manager.data(manager.index(row), DriveManager::DriveRole).value<Drive *>());
                if (listed->device() == FakeUDisks2::blockPath(block) && rowAt < 0)
                    rowAt = watcher.clock.nsecsElapsed();
            }
        });
        DriveObject stick;
        stick.model = QStringLiteral("Hot %1").arg(run);
        watcher.receivedAt = -1;
        watchdog.start();
        sendToFake(QStringLiteral("AddObject"), FakeUDisks2::drivePath(drive), stick.json());
        sendToFake(QStringLiteral("AddObject"), FakeUDisks2::blockPath(block), disk(drive, QStringLiteral("iso9660")));
        if (!QTest::qWaitFor([&] { return rowAt >= 0; }, 30000) || watcher.receivedAt < 0) {
            std::fprintf(stderr, "the plugged stick did not appear (row %lld, signal %lld): %s\n", rowAt,
                         watcher.receivedAt, qPrintable(fake.errorString()));
            return false;
        }
        plugBlocked = std::max(plugBlocked, watchdog.stop());
        plugs.append((rowAt - watcher.receivedAt) / 1e6);
        QObject::disconnect(connection);

        const int before = manager.length();
        if (!fake.removeObject(FakeUDisks2::blockPath(block)) || !fake.removeObject(FakeUDisks2::drivePath(drive))
            || !QTest::qWaitFor([&] { return manager.length() == before - 1; }, 30000))
            return false;
        // Let the scan that follows the removal settle before the next plug.
        QTest::qWait(200);
    }

    std::printf("drives %d (%d objects)\n", count, count * 3);
    std::printf("  GetManagedObjects round trip, decoded (baseline): median %.1f ms\n", median(baseline));
    std::printf("  full scan: median %.1f ms, max %.1f ms   ratio to baseline %.2f\n", median(scans), maximum(scans),
                median(scans) / median(baseline));
    std::printf("  hot-plug, InterfacesAdded to a decoded scan reply (baseline): median %.1f ms\n",
                median(plugBaseline));
    std::printf("  hot-plug, InterfacesAdded to row: median %.1f ms, max %.1f ms   ratio to baseline %.2f   "
                "target < 100 ms\n",
                median(plugs), maximum(plugs), median(plugs) / median(plugBaseline));
    std::printf("  main thread blocked, longest: scans %.1f ms, hot-plug %.1f ms, idle (baseline) %.1f ms   "
                "target <= 20 ms\n",
                scanBlocked, plugBlocked, idleBlocked);
    std::fflush(stdout);
    return true;
}

void discard(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type >= QtWarningMsg)
        std::fprintf(stderr, "%s\n", qPrintable(message));
}
} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    qInstallMessageHandler(discard);
    QList<int> counts;
    for (int i = 1; i < argc; ++i)
        counts.append(QString::fromLocal8Bit(argv[i]).toInt());
    if (counts.isEmpty())
        counts = { 1, 20, 200 };

    QString why;
    if (!FakeUDisks2::isAvailable(&why)) {
        std::fprintf(stderr, "%s\n", qPrintable(why));
        return 1;
    }
    PrivateBus bus(PrivateBus::System);
    if (!bus.start() || !PrivateBus::isSystemBusPrivate(&why)) {
        std::fprintf(stderr, "no private system bus: %s %s\n", qPrintable(bus.errorString()), qPrintable(why));
        return 1;
    }
    qDBusRegisterMetaType<InterfacesAndProperties>();
    qDBusRegisterMetaType<DBusIntrospection>();
    AddedWatcher watcher;
    watcher.clock.start();
    // Subscribed before any drive list, so this slot hears the signal first.
    const bool subscribed
        = QDBusConnection::systemBus().connect(kService, kRoot, kObjectManager, QStringLiteral("InterfacesAdded"),
                                               &watcher, SLOT(onInterfacesAdded(QDBusMessage)));
    if (!subscribed) {
        std::fprintf(stderr, "cannot subscribe to InterfacesAdded\n");
        return 1;
    }

    for (int count : std::as_const(counts)) {
        if (!measure(count, watcher))
            return 1;
    }
    return 0;
}

#include "drivesbench.moc"
