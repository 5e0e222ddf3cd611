// Times the DownloadManager on one large file, for run.sh:
//   downloadbench download URL FOLDER   whole transfer with its MD5 until onFileDownloaded
//   downloadbench catchup URL FOLDER    hashing an existing part file that already has every
//                                       byte, until the server confirms it is complete
// Prints "seconds <s>", "bytes <n>", "megabytes_per_second <r>" and the MD5 on standard output.
#include "downloadmanager.h"
#include "downloadreceiver.h"
#include "progress.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QUrl>

#include <cstdio>

namespace {

class Receiver : public DownloadReceiver
{
public:
    QElapsedTimer clock;
    QString partPath;

    void report(const QString &hash)
    {
        const double seconds = clock.nsecsElapsed() / 1e9;
        const qint64 bytes = QFileInfo(partPath).size();
        std::printf("seconds %.3f\nbytes %lld\nmegabytes_per_second %.1f\nmd5 %s\n", seconds, bytes,
                    bytes / 1e6 / seconds, qPrintable(hash));
    }
    void onFileDownloaded(const QString &path, const QString &hash) override
    {
        partPath = path;
        report(hash);
        QCoreApplication::exit(0);
    }
    void onDownloadError(const QString &message) override
    {
        std::fprintf(stderr, "download failed: %s\n", qPrintable(message));
        QCoreApplication::exit(1);
    }
};

void discard(QtMsgType, const QMessageLogContext &, const QString &) { }

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc != 4 || (qstrcmp(argv[1], "download") != 0 && qstrcmp(argv[1], "catchup") != 0)) {
        std::fprintf(stderr, "usage: %s download|catchup URL FOLDER\n", argv[0]);
        return 2;
    }
    // As in the program, whose handler drops everything below fatal.
    qInstallMessageHandler(discard);

    const QUrl url(QString::fromLocal8Bit(argv[2]));
    const QString folder = QString::fromLocal8Bit(argv[3]);
    Receiver receiver;
    Progress progress(nullptr, 0, 1);
    receiver.clock.start();
    receiver.partPath = DownloadManager::instance()->downloadFile(&receiver, url, folder, &progress);
    if (!receiver.partPath.endsWith(QStringLiteral(".part"))) {
        std::fprintf(stderr, "%s is already complete\n", qPrintable(receiver.partPath));
        return 1;
    }
    return app.exec();
}
