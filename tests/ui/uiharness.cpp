#include "uiharness.h"

#include "appinfo.h"
#include "downloadmanager.h"
#include "drivemanager.h"
#include "fakedrive.h"
#include "fakedriveprovider.h"
#include "options.h"
#include "portalfiledialog.h"
#include "releasemanager.h"
#include "releasevariant.h"
#include "testlocale.h"

#include <QDesktopServices>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QFont>
#include <QGuiApplication>
#include <QLocale>
#include <QPalette>
#include <QQmlContext>
#include <QQmlEngine>
#include <QStandardPaths>
#include <QTest>

namespace {
FakeDriveProvider *simulatedDrives()
{
    return qobject_cast<FakeDriveProvider *>(DriveManager::instance()->provider());
}
} // namespace

UiHarness::UiHarness() = default;

UiHarness::~UiHarness()
{
    QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
}

void UiHarness::applicationAvailable()
{
    QStandardPaths::setTestModeEnabled(true);
    TestLocale::pinEnglish();
    // The downloads folder is not redirected by the test mode; a home of our own is.
    qputenv("HOME", QFile::encodeName(m_home.path()));
    QDir(m_home.path()).mkpath(QStringLiteral("Downloads"));
    // The simulated drives, as --testing gives them; read when the drive list is first made.
    options.testing = true;
    if (!m_server.start())
        qFatal("UiHarness: no nginx to serve the catalogue: %s", qPrintable(m_server.errorString()));
    QDir(m_server.root()).mkpath(QStringLiteral("feeds"));
    QDir(m_server.root()).mkpath(QStringLiteral("slow/images"));
    QDesktopServices::setUrlHandler(QStringLiteral("https"), this, "openUrl");
    m_palette = QGuiApplication::palette();
    m_font = QGuiApplication::font();
}

void UiHarness::qmlEngineAvailable(QQmlEngine *engine)
{
    m_engine = engine;
    QQmlContext *context = engine->rootContext();
    // The order of the program's start-up; the drive list is the process's one.
    context->setContextProperty(QStringLiteral("downloadManager"), DownloadManager::instance());
    context->setContextProperty(QStringLiteral("drives"), DriveManager::instance());
    const FakeDriveProvider *provider = simulatedDrives();
    m_driveTimings = { provider->writeStepInterval(), provider->restoreDuration(), provider->removeAfterRestoreDelay(),
                       provider->newRestoreableDelay() };
    context->setContextProperty(QStringLiteral("portalFileDialog"), new PortalFileDialog(engine, 0));
    context->setContextProperty(QStringLiteral("flashwrightVersion"), AppInfo::version);
    context->setContextProperty(QStringLiteral("harness"), this);
    newCatalogue(QStringLiteral("catalogue.json"));
}

void UiHarness::cleanupTestCase()
{
    setLanguage(QString());
}

bool UiHarness::serveFeed(const QString &feed, const QString &as)
{
    return m_server.serveFeed(feed, as, m_imageSize);
}

QObject *UiHarness::newCatalogue(const QString &feed)
{
    if (m_catalogue) {
        // The page fetches of the old catalogue still report to it; keep it quiet until the end.
        m_catalogue->setFetchInterval(3600000);
        m_catalogue->setRetryInterval(3600000);
    }
    // Feeds served under their own name; any other name is a feed that is not there (yet).
    serveFeed(feed, feed);
    options.releasesUrl = m_server.url(QStringLiteral("/feeds/") + feed).toString();
    auto *catalogue = new ReleaseManager(this);
    DriveManager *drives = DriveManager::instance();
    catalogue->setDriveBackend(drives);
    connect(drives, &DriveManager::isBackendBrokenChanged, catalogue, &ReleaseManager::onDriveBackendChanged);
    m_catalogue = catalogue;
    if (m_engine)
        m_engine->rootContext()->setContextProperty(QStringLiteral("releases"), catalogue);
    return catalogue;
}

bool UiHarness::setLanguage(const QString &locale)
{
    if (m_translatorInstalled) {
        QCoreApplication::removeTranslator(&m_translator);
        m_translatorInstalled = false;
    }
    bool loaded = true;
    if (!locale.isEmpty()) {
        loaded = m_translator.load(QLocale(locale), QString(), QString(), QStringLiteral(":/translations"));
        m_translatorInstalled = loaded && QCoreApplication::installTranslator(&m_translator);
    }
    if (m_engine)
        m_engine->retranslate();
    return loaded;
}

void UiHarness::setWindowColour(const QColor &colour)
{
    QPalette palette = QGuiApplication::palette();
    palette.setColor(QPalette::All, QPalette::Window, colour);
    QGuiApplication::setPalette(palette);
}

void UiHarness::setFontPixelSize(int pixelSize)
{
    QFont font = QGuiApplication::font();
    font.setPixelSize(pixelSize);
    QGuiApplication::setFont(font);
}

void UiHarness::restoreDesktop()
{
    QGuiApplication::setPalette(m_palette);
    QGuiApplication::setFont(m_font);
}

void UiHarness::openUrl(const QUrl &url)
{
    m_openedUrls.append(url.toString());
}

QString UiHarness::downloadsFolder() const
{
    return DownloadManager::dir();
}

bool UiHarness::clearDownloads()
{
    QDir folder(DownloadManager::dir());
    bool cleared = true;
    const QStringList files = folder.entryList(QDir::Files | QDir::Hidden);
    for (const QString &file : files)
        cleared = folder.remove(file) && cleared;
    return cleared;
}

bool UiHarness::setImageSize(qint64 bytes)
{
    m_imageSize = bytes;
    bool resized = true;
    QDirIterator images(m_server.root() + QStringLiteral("/slow/images"), QDir::Files, QDirIterator::Subdirectories);
    while (images.hasNext())
        resized = QFile::resize(images.next(), bytes) && resized;
    return resized;
}

QString UiHarness::makeLocalFile(const QString &path, qint64 bytes)
{
    const QString file = m_localFiles.filePath(path);
    QDir().mkpath(QFileInfo(file).path());
    QFile image(file);
    if (!image.open(QIODevice::WriteOnly) || !image.resize(bytes))
        return QString();
    return QUrl::fromLocalFile(file).toString();
}

QStringList UiHarness::requestedPaths() const
{
    QStringList paths;
    for (const NginxServer::Request &request : m_server.requests())
        paths.append(request.uri);
    return paths;
}

void UiHarness::setDriveTimings(int writeStep, int restore, int removeAfterRestore, int newRestoreable)
{
    FakeDriveProvider *provider = simulatedDrives();
    provider->setWriteStepInterval(writeStep);
    provider->setRestoreDuration(restore);
    provider->setRemoveAfterRestoreDelay(removeAfterRestore);
    provider->setNewRestoreableDelay(newRestoreable);
}

void UiHarness::restoreDriveTimings()
{
    setDriveTimings(m_driveTimings[0], m_driveTimings[1], m_driveTimings[2], m_driveTimings[3]);
}

void UiHarness::unplugDrive(QObject *drive)
{
    auto *gone = qobject_cast<Drive *>(drive);
    if (!gone)
        return;
    emit simulatedDrives()->driveRemoved(gone);
    gone->deleteLater();
}

void UiHarness::plugDrive(const QString &name, qint64 bytes, bool containsLive)
{
    FakeDriveProvider *provider = simulatedDrives();
    emit provider->driveConnected(new FakeDrive(provider, name, quint64(bytes), containsLive));
}

void UiHarness::setImageStatus(QObject *image, int status)
{
    if (auto *variant = qobject_cast<ReleaseVariant *>(image))
        variant->setStatus(ReleaseVariant::Status(status));
}
