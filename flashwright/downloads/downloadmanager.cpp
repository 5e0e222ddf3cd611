#include "downloadmanager.h"

#include "appinfo.h"
#include "download.h"
#include "messagehandler.h"
#include "options.h"

#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QNetworkProxyFactory>
#include <QNetworkReply>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QSysInfo>
#include <QUrl>

DownloadManager::DownloadManager(QObject *parent)
    : QObject(parent)
    , m_inactivityTimeout(Download::InactivityTimeout)
{
    qCDebug(MessageHandler::category) << metaObject()->className() << "User-Agent:" << userAgent();
    QNetworkProxyFactory::setUseSystemConfiguration(true);
}

DownloadManager *DownloadManager::instance()
{
    static DownloadManager *manager = new DownloadManager();
    return manager;
}

QString DownloadManager::dir()
{
    return QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
}

QString DownloadManager::userAgent()
{
    QString product = QSysInfo::prettyProductName();
    product.remove(QRegularExpression(QStringLiteral("[()]")));
    // The language alone, so the territory shown is the language's default one.
    const QString locale = QLocale(QLocale().language()).name();
    return QStringLiteral("ZELVANFlashwright/%1 (").arg(AppInfo::version) + product
        + QStringLiteral("; %1").arg(QSysInfo::buildAbi()) + QStringLiteral("; %1").arg(locale) + QStringLiteral(")");
}

QString DownloadManager::fileNameOf(const QUrl &url)
{
    // Split the path while encoded slashes are still encoded: a last segment
    // such as "..%2F..%2Fx" names a place outside the folder, not "x".
    const QString encodedPath = url.path(QUrl::FullyEncoded);
    const QString segment = encodedPath.mid(encodedPath.lastIndexOf(QLatin1Char('/')) + 1);
    const QString name = QUrl::fromPercentEncoding(segment.toUtf8());
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String("..") || name.contains(QLatin1Char('/'))
        || name.contains(QChar(0)))
        return {};
    return name;
}

QString DownloadManager::downloadFile(DownloadReceiver *receiver, const QUrl &url, const QString &folder,
                                      Progress *progress, qint64 announcedSize)
{
    qCDebug(MessageHandler::category) << metaObject()->className() << "Going to download" << url;

    const QString name = fileNameOf(url);
    const QString target = name.isEmpty() ? QString() : QStringLiteral("%1/%2").arg(folder, name);

    QDir().mkpath(folder);
    if (!target.isEmpty() && QFileInfo::exists(target)) {
        qCDebug(MessageHandler::category) << metaObject()->className() << "The file already exists on" << target;
        return target;
    }

    m_mirrors.clear();
    if (m_current)
        m_current->deleteLater();

    if (target.isEmpty()) {
        // Callers tell a started download by the ".part" suffix and wait for
        // the receiver, so a refused one looks the same and fails from there.
        qCWarning(MessageHandler::category) << metaObject()->className() << "Refusing the file name of" << url;
        m_current = new Download(this, receiver, QString(), progress);
        m_current->failLater(Download::tr("Unable to fetch the requested image."));
    } else {
        m_mirrors.append(url.toString());
        m_current = new Download(this, receiver, target, progress, announcedSize);
    }

    Download *download = m_current;
    connect(download, &QObject::destroyed, this, [this, download]() {
        if (m_current == download)
            m_current = nullptr;
    });
    return (target.isEmpty() ? QStringLiteral("%1/").arg(folder) : target) + QStringLiteral(".part");
}

void DownloadManager::fetchPageAsync(DownloadReceiver *receiver, const QString &url)
{
    QNetworkReply *reply = get(makeRequest(QUrl(url)));
    auto *download = new Download(this, receiver, QString(), nullptr);
    download->handleNewReply(reply);
}

QNetworkReply *DownloadManager::tryAnotherMirror()
{
    if (m_mirrors.isEmpty() || !m_current)
        return nullptr;

    QNetworkRequest request = makeRequest(QUrl(m_mirrors.first()));
    request.setRawHeader("Range", QStringLiteral("bytes=%1-").arg(m_current->bytesDownloaded()).toLatin1());
    m_mirrors.removeFirst();
    return get(request);
}

QNetworkReply *DownloadManager::get(QNetworkRequest request)
{
    return m_manager.get(request);
}

QNetworkRequest DownloadManager::makeRequest(const QUrl &url) const
{
    QNetworkRequest request(url);
    if (!options.noUserAgent)
        request.setHeader(QNetworkRequest::UserAgentHeader, userAgent());
    return request;
}

void DownloadManager::openDownloadFolder(const QString &filePath)
{
    QProcess query;
    query.start(QStringLiteral("xdg-mime"),
                { QStringLiteral("query"), QStringLiteral("default"), QStringLiteral("inode/directory") });
    query.waitForFinished(30000);
    if (!query.readAllStandardError().isEmpty())
        return;

    const QString handler = QString::fromLocal8Bit(query.readAllStandardOutput()).trimmed().toLower();
    struct FileManager
    {
        const char *marker;
        const char *program;
        const char *option;
    };
    static const FileManager fileManagers[] = {
        { "dolphin", "dolphin", "--select" },
        { "nautilus", "nautilus", "--select" },
        { "caja", "caja", "--select" },
        { "dde", "dde-file-manager", "--show-item" },
    };
    for (const FileManager &fileManager : fileManagers) {
        if (handler.contains(QLatin1String(fileManager.marker))) {
            QProcess::startDetached(QLatin1String(fileManager.program),
                                    { QLatin1String(fileManager.option), filePath });
            return;
        }
    }
    QProcess::startDetached(QStringLiteral("xdg-open"), { QFileInfo(filePath).path() });
}

void DownloadManager::cancel()
{
    if (!m_current)
        return;
    m_current->deleteLater();
    m_current = nullptr;
    qCDebug(MessageHandler::category) << metaObject()->className() << "Cancelling";
}

bool DownloadManager::isDownloaded(const QUrl &url)
{
    const QString name = fileNameOf(url);
    return !name.isEmpty() && QFileInfo::exists(QStringLiteral("%1/%2").arg(dir(), name));
}

void DownloadManager::setInactivityTimeout(int milliseconds)
{
    m_inactivityTimeout = milliseconds;
}
