// Times the catalogue, for run.sh:
//   cataloguebench feed [ROUNDS]   a generated feed of 1 000, 10 000 and 20 000 entries (50, 500
//                                  and 1 000 subvariants, 4 architectures, 5 versions) through
//                                  onStringDownloaded; medians of ROUNDS runs, each on a new
//                                  catalogue, with and without a view over the filtered list
//   cataloguebench check ISO       the implanted-checksum check of a downloaded image, from
//                                  onFileDownloaded until the image is READY, the event loop
//                                  running all along as the window's does
// Prints "name value" lines on standard output.
#include "download.h"
#include "downloadmanager.h"
#include "options.h"
#include "progress.h"
#include "release.h"
#include "releasearchitecture.h"
#include "releaselistmodel.h"
#include "releasemanager.h"
#include "releasevariant.h"
#include "releaseversion.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QTcpServer>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

void discard(QtMsgType, const QMessageLogContext &, const QString &) { }

QString generateFeed(int subvariants)
{
    static const char *const arches[] = { "x86_64", "aarch64", "i686", "armhfp" };
    // Three finals, so the oldest is dropped as it would be in a real feed.
    static const char *const versions[] = { "6", "7", "8", "9 beta", "10 alpha" };
    static const char *const editions[] = { "standart", "home", "education", "cert" };
    QJsonArray entries;
    for (int s = 0; s < subvariants; ++s) {
        const QString subvariant = QStringLiteral("zv%1-edition-%2").arg(s % 2 ? 80 : 73).arg(s);
        for (const char *version : versions) {
            for (const char *arch : arches) {
                const QString link = QStringLiteral("https://mirror.example/zelvan/%1/%2/%3/zelvan-%1-%2-%3.iso")
                                         .arg(subvariant, QLatin1String(version), QLatin1String(arch));
                entries.append(QJsonObject {
                    { "SUBVARIANT", subvariant },
                    { "VARIANT", s % 2 ? "zv80" : "zv73" },
                    { "EDITION", editions[(s / 2) % 4] },
                    { "NAME", QStringLiteral("Zelvan %1").arg(subvariant) },
                    { "DESCRIPTION", QJsonArray { "<p>A desktop for everyday work.</p>", "<p>Office and web.</p>" } },
                    { "SCREENSHOTS", QJsonArray { "https://mirror.example/shot1.png" } },
                    { "ICON", "https://mirror.example/icon.svg" },
                    { "ARCH", arch },
                    { "VERSION", version },
                    { "LINK", link },
                    { "MD5", QStringLiteral("%1").arg(quint64(qHash(link)), 32, 16, QLatin1Char('0')) },
                    { "SIZE", QString::number(4000000000LL + s) },
                    { "releaseDate", "2024-05-17" },
                });
            }
        }
    }
    // The server's order is not the catalogue's: shuffle, reproducibly.
    std::vector<QJsonValue> shuffled(entries.begin(), entries.end());
    QRandomGenerator random(42);
    std::shuffle(shuffled.begin(), shuffled.end(), random);
    QJsonArray result;
    for (const QJsonValue &value : shuffled)
        result.append(value);
    return QString::fromUtf8(QJsonDocument(result).toJson(QJsonDocument::Compact));
}

// Page fetches report to the manager: let them end before it goes.
void settle()
{
    for (;;) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        const QList<Download *> all = DownloadManager::instance()->findChildren<Download *>();
        if (all.isEmpty())
            return;
    }
}

double timeFeed(const QString &text, bool withView, int *rows)
{
    auto *manager = new ReleaseManager();
    manager->setFetchInterval(3600000);
    settle();
    if (withView)
        (void)manager->rowCount();
    QElapsedTimer clock;
    clock.start();
    manager->onStringDownloaded(text);
    const double seconds = double(clock.nsecsElapsed()) / 1e9;
    *rows = manager->rowCount();
    settle();
    delete manager;
    return seconds;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

int feedBench(int rounds)
{
    double perEntry[2][3] = {};
    for (int view = 0; view < 2; ++view) {
        int sizeIndex = 0;
        for (int subvariants : { 50, 500, 1000 }) {
            const QString text = generateFeed(subvariants);
            const int entries = subvariants * 20;
            std::vector<double> times;
            int rows = 0;
            for (int round = 0; round < rounds; ++round)
                times.push_back(timeFeed(text, view != 0, &rows));
            const double seconds = median(times);
            perEntry[view][sizeIndex++] = seconds / entries;
            std::printf("feed_%d%s_ms %.1f\nfeed_%d%s_us_per_entry %.2f\n", entries, view ? "_view" : "", seconds * 1e3,
                        entries, view ? "_view" : "", seconds / entries * 1e6);
            std::printf("feed_%d%s_shown_rows %d\n", entries, view ? "_view" : "", rows);
        }
        // Time per entry against the smaller feed: 1.0 means linear growth.
        std::printf("growth_per_entry_1000_to_10000%s %.2f\ngrowth_per_entry_10000_to_20000%s %.2f\n",
                    view ? "_view" : "", perEntry[view][1] / perEntry[view][0], view ? "_view" : "",
                    perEntry[view][2] / perEntry[view][1]);
    }
    return 0;
}

int checkBench(const QString &iso)
{
    if (!QFileInfo(iso).isFile()) {
        std::fprintf(stderr, "no image at %s\n", qPrintable(iso));
        return 2;
    }
    auto *manager = new ReleaseManager();
    manager->setFetchInterval(3600000);
    settle();
    auto *release = new Release(manager, 1, QStringLiteral("Zelvan"), QString(), {}, QStringLiteral("zv80"),
                                Release::ZV80, Release::STANDART, QString(), {});
    auto *version = new ReleaseVersion(release, 8, ReleaseVersion::FINAL, QDateTime());
    auto *variant
        = new ReleaseVariant(version, QStringLiteral("https://mirror.example/a.iso"), QString(), QFileInfo(iso).size(),
                             ReleaseArchitecture::fromId(ReleaseArchitecture::X86_64), ReleaseVariant::LIVE);
    int progressUpdates = 0;
    QObject::connect(variant->progress(), &Progress::valueChanged, [&progressUpdates]() { ++progressUpdates; });
    QEventLoop loop;
    QObject::connect(variant, &ReleaseVariant::statusChanged, &loop, [variant, &loop]() {
        if (variant->status() == ReleaseVariant::READY || variant->status() == ReleaseVariant::FAILED_DOWNLOAD)
            loop.quit();
    });
    variant->setStatus(ReleaseVariant::DOWNLOADING);

    QElapsedTimer clock;
    clock.start();
    // The path has no ".part": the image keeps its name.
    variant->onFileDownloaded(iso, QString());
    loop.exec();
    const double seconds = double(clock.nsecsElapsed()) / 1e9;
    const qint64 bytes = QFileInfo(iso).size();
    std::printf("seconds %.3f\nbytes %lld\nmegabytes_per_second %.1f\nprogress_updates %d\nstatus %s\n", seconds, bytes,
                bytes / 1e6 / seconds, progressUpdates,
                variant->status() == ReleaseVariant::READY ? "ready" : qPrintable(variant->errorString()));
    const bool ready = variant->status() == ReleaseVariant::READY;
    delete manager;
    return ready ? 0 : 1;
}

} // namespace

int main(int argc, char *argv[])
{
    qInstallMessageHandler(discard);
    QCoreApplication application(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    // Nobody listens there: the manager's own fetch fails at once, on this machine.
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    options.releasesUrl = QStringLiteral("http://127.0.0.1:%1/").arg(probe.serverPort());
    probe.close();

    if (arguments.size() >= 2 && arguments.at(1) == QLatin1String("feed"))
        return feedBench(arguments.size() >= 3 ? arguments.at(2).toInt() : 5);
    if (arguments.size() == 3 && arguments.at(1) == QLatin1String("check"))
        return checkBench(arguments.at(2));
    std::fprintf(stderr, "usage: cataloguebench feed [ROUNDS] | cataloguebench check ISO\n");
    return 2;
}
