// Downloads one URL into a folder through the DownloadManager and reports the
// outcome on standard output; the tests kill it midway to leave a part file
// behind, as a crash or power cut would.
#include "downloadmanager.h"
#include "downloadreceiver.h"

#include <QCoreApplication>
#include <QStandardPaths>
#include <QUrl>

#include <cstdio>

namespace {

class Receiver : public DownloadReceiver
{
public:
    void onFileDownloaded(const QString &path, const QString &hash) override
    {
        std::printf("done %s %s\n", qPrintable(hash), qPrintable(path));
        QCoreApplication::exit(0);
    }
    void onDownloadError(const QString &message) override
    {
        std::printf("error %s\n", qPrintable(message));
        QCoreApplication::exit(1);
    }
};

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QStandardPaths::setTestModeEnabled(true);
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s URL FOLDER\n", argv[0]);
        return 2;
    }
    // Two warnings per 64 KiB chunk would flood the test's output.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    Receiver receiver;
    const QString path = DownloadManager::instance()->downloadFile(&receiver, QUrl(QString::fromLocal8Bit(argv[1])),
                                                                   QString::fromLocal8Bit(argv[2]), nullptr);
    std::printf("started %s\n", qPrintable(path));
    std::fflush(stdout);
    return app.exec();
}
