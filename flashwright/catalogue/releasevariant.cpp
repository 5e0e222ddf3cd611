#include "releasevariant.h"

#include "download.h"
#include "downloadmanager.h"
#include "drivebackend.h"
#include "imagesize.h"
#include "messagehandler.h"
#include "progress.h"
#include "release.h"
#include "releasearchitecture.h"
#include "releasemanager.h"
#include "releaseversion.h"

#include <QDir>
#include <QFile>
#include <QMetaEnum>
#include <QFileInfo>
#include <QRegularExpression>
#include <QUrl>

namespace {

QString normalizedDigest(const QString &digest)
{
    return digest.trimmed().toLower();
}

} // namespace

ReleaseVariant::ReleaseVariant(ReleaseVersion *parent, const QString &url, const QString &md5, qint64 size,
                               ReleaseArchitecture *arch, Type type)
    : QObject(parent)
    , m_arch(arch)
    , m_type(type)
    , m_url(url)
    , m_md5(md5)
    , m_size(size)
    , m_announcedSize(size)
{
    initStatusTexts();
    connect(this, &ReleaseVariant::sizeChanged, this, &ReleaseVariant::realSizeChanged);
}

ReleaseVariant::ReleaseVariant(ReleaseVersion *parent, const QString &file, qint64 size)
    : QObject(parent)
    , m_iso(file)
    , m_arch(ReleaseArchitecture::fromId(ReleaseArchitecture::X86_64))
    , m_type(LIVE)
    , m_size(size)
    , m_status(READY)
{
    initStatusTexts();
    connect(this, &ReleaseVariant::sizeChanged, this, &ReleaseVariant::realSizeChanged);
    if (!m_iso.isEmpty())
        updateRealSize(m_iso);
}

ReleaseVariant::~ReleaseVariant()
{
    abortCheck();
    // A transfer that has not reported yet would report to a deleted object.
    if (m_transfer)
        delete m_transfer.data();
}

void ReleaseVariant::initStatusTexts()
{
    // Every image shows the same eleven texts: build them once per language
    // rather than once per image, which shows in a large catalogue. Images
    // are made on the main thread only.
    static QString language;
    static QStringList texts;
    const QString probe = tr("Preparing");
    if (texts.isEmpty() || probe != language) {
        language = probe;
        texts = {
            probe,
            tr("Downloading"),
            tr("Checking the download"),
            tr("Ready to write"),
            tr("Image file was saved to your downloads folder. Writing is not possible"),
            tr("Writing"),
            tr("Checking the written data"),
            tr("Finished!"),
            tr("The written data is corrupted"),
            tr("Download failed"),
            tr("Error"),
        };
    }
    m_statusTexts = texts;
}

ReleaseVersion *ReleaseVariant::releaseVersion() const
{
    return qobject_cast<ReleaseVersion *>(parent());
}

Release *ReleaseVariant::release() const
{
    ReleaseVersion *version = releaseVersion();
    return version ? version->release() : nullptr;
}

QString ReleaseVariant::name() const
{
    QString text = m_arch ? m_arch->description() : QString();
    switch (m_type) {
    case ATOMIC:
        text += QStringLiteral(" - Atomic");
        break;
    case FULL:
        text += QStringLiteral(" - Full Image");
        break;
    case NETINSTALL:
        text += QStringLiteral(" - Net Install");
        break;
    case LIVE:
        break;
    }
    return text;
}

QString ReleaseVariant::fullName() const
{
    Release *owner = release();
    if (owner && owner->isLocal())
        return m_iso.mid(m_iso.lastIndexOf(QLatin1Char('/')) + 1);
    ReleaseVersion *version = releaseVersion();
    return QStringLiteral("%1 %2 %3")
        .arg(owner ? owner->name() : QString(), version ? version->name() : QString(), name());
}

void ReleaseVariant::setRealSize(qint64 size)
{
    if (m_realSize == size)
        return;
    m_realSize = size;
    emit realSizeChanged();
}

Progress *ReleaseVariant::progress()
{
    if (!m_progress)
        m_progress = new Progress(this, 0.0, double(m_size));
    return m_progress;
}

ReleaseVariant::Status ReleaseVariant::status() const
{
    if (m_status != READY)
        return m_status;
    Release *owner = release();
    ReleaseManager *manager = owner ? owner->manager() : nullptr;
    DriveBackend *backend = manager ? manager->driveBackend() : nullptr;
    return backend && backend->isBackendBroken() ? WRITING_NOT_POSSIBLE : m_status;
}

QString ReleaseVariant::statusString() const
{
    return m_statusTexts.value(status());
}

void ReleaseVariant::setStatus(Status status)
{
    if (m_status == status)
        return;
    m_status = status;
    // The road of an image in the verbose log: what a report of a failed
    // write needs first.
    qCDebug(MessageHandler::category) << metaObject()->className() << "Status of" << (m_iso.isEmpty() ? m_url : m_iso) << "now"
                                      << QMetaEnum::fromType<Status>().valueToKey(status);
    emit statusChanged();
}

void ReleaseVariant::setErrorString(const QString &errorString)
{
    if (m_errorString == errorString)
        return;
    m_errorString = errorString;
    if (!errorString.isEmpty())
        qCDebug(MessageHandler::category) << metaObject()->className() << "Error of" << (m_iso.isEmpty() ? m_url : m_iso) << errorString;
    emit errorStringChanged();
}

bool ReleaseVariant::updateUrl(const QString &url, const QString &md5, qint64 size)
{
    bool changed = false;
    if (!url.isEmpty() && url.toUtf8().trimmed() != m_url.toUtf8().trimmed()) {
        qCWarning(MessageHandler::category) << "Url" << m_url << "changed to" << url;
        m_url = url;
        emit urlChanged();
        changed = true;
    }
    if (!md5.isEmpty() && md5.trimmed() != m_md5.trimmed()) {
        qCWarning(MessageHandler::category) << "md5 hash of" << url << "changed from" << m_md5 << "to" << md5;
        m_md5 = md5;
        emit mdHashChanged();
        changed = true;
    }
    if (size != 0)
        m_announcedSize = size;
    if (size != 0 && size != m_size) {
        m_size = size;
        emit sizeChanged();
        changed = true;
    }
    // What was checked against the old announcement proves nothing now.
    if (changed)
        m_verified = VerifiedFile();
    return changed;
}

bool ReleaseVariant::isBusy() const
{
    switch (m_status) {
    case DOWNLOADING:
    case DOWNLOAD_VERIFYING:
    case WRITING:
    case WRITE_VERIFYING:
        return true;
    default:
        return isChecking();
    }
}

void ReleaseVariant::announceBackendChange()
{
    if (m_status == READY)
        emit statusChanged();
}

void ReleaseVariant::setIso(const QString &iso)
{
    // Also for the same path: the file under it may be another one now.
    if (!iso.isEmpty())
        updateRealSize(iso);
    if (m_iso == iso)
        return;
    m_iso = iso;
    emit isoChanged();
}

void ReleaseVariant::updateRealSize(const QString &path)
{
    // The helper unpacks a compressed file: such an image needs a drive as
    // large as what it unpacks to, which xz and zip files record without
    // anything being decoded. (A zstd frame's size is a lower bound only;
    // the drive's check takes it itself.)
    const ReceivedSize received = receivedSize(path);
    if (!received.compressed) {
        setRealSize(0);
        return;
    }
    if (received.bytes < 0 || received.lowerBound) {
        // The helper finds out while it writes, and stops at the drive's end.
        qCDebug(MessageHandler::category) << metaObject()->className() << "No decoded size recorded in" << path;
        return;
    }
    setRealSize(received.bytes);
}

void ReleaseVariant::updateSizeFromFile(const QString &path)
{
    const qint64 fileSize = QFileInfo(path).size();
    if (fileSize == m_size)
        return;
    m_size = fileSize;
    emit sizeChanged();
}

bool ReleaseVariant::matchesVerifiedFile(const QString &path) const
{
    if (m_verified.path.isEmpty() || m_verified.path != path)
        return false;
    const QFileInfo file(path);
    return file.size() == m_verified.size && file.lastModified() == m_verified.modified;
}

void ReleaseVariant::rememberVerifiedFile(const QString &path)
{
    const QFileInfo file(path);
    m_verified = { path, file.size(), file.lastModified() };
}

void ReleaseVariant::fail(const QString &message)
{
    setErrorString(message);
    setStatus(FAILED_DOWNLOAD);
}

void ReleaseVariant::download()
{
    if (isChecking()) {
        // The file is still being checked (the user left the progress page
        // and came back): follow that check instead of starting a second
        // transfer into the file it reads.
        resetStatus();
        m_checkGeneration = m_statusGeneration;
        setStatus(DOWNLOAD_VERIFYING);
        return;
    }

    if (m_url.isEmpty() && !m_iso.isEmpty()) {
        setStatus(READY);
        return;
    }

    resetStatus();
    setStatus(DOWNLOADING);
    if (m_size != 0)
        progress()->setTo(double(m_size));

    const QUrl url(m_url, QUrl::TolerantMode);
    // A started transfer is told from a finished file by the ".part" suffix,
    // so an image whose own name ends in it could never finish.
    const QString fileName = DownloadManager::fileNameOf(url);
    if (fileName.endsWith(QLatin1String(".part"))) {
        qCWarning(MessageHandler::category) << metaObject()->className() << "Refusing to download" << m_url;
        fail(tr("The image cannot be downloaded: its file name %1 ends in \".part\", like an unfinished download.")
                 .arg(fileName));
        return;
    }

    DownloadManager *downloads = DownloadManager::instance();
    const QString path = downloads->downloadFile(this, url, DownloadManager::dir(), progress(), m_announcedSize);
    if (path.endsWith(QLatin1String(".part"))) {
        m_temporaryPath = path;
        m_transfer = downloads->currentDownload();
        // The old image must not stand in for the new one should this transfer fail.
        setIso(QString());
        return;
    }

    m_temporaryPath.clear();
    takeExistingFile(path);
}

void ReleaseVariant::takeExistingFile(const QString &path)
{
    const QString expected = normalizedDigest(m_md5);
    const bool nothingToCheck = m_size <= 0 && expected.isEmpty();
    const qint64 fileSize = QFileInfo(path).size();
    const bool sizeDiffers = m_size > 0 && fileSize != m_size;

    if (nothingToCheck || (!sizeDiffers && (expected.isEmpty() || matchesVerifiedFile(path)))) {
        setIso(path);
        qCDebug(MessageHandler::category) << metaObject()->className() << m_iso << "is already downloaded";
        setStatus(READY);
        updateSizeFromFile(path);
        return;
    }

    setIso(QString());
    if (sizeDiffers) {
        m_checkGeneration = m_statusGeneration;
        onExistingFileChecked(path, ImageCheck::Result::Mismatch);
        return;
    }

    setStatus(DOWNLOAD_VERIFYING);
    progress()->setValue(0, 1);
    runCheck([path, expected](ImageCheck *check) { check->checkDigest(path, expected); },
             [this, path](ImageCheck::Result result) { onExistingFileChecked(path, result); });
}

void ReleaseVariant::onExistingFileChecked(const QString &path, ImageCheck::Result result)
{
    switch (result) {
    case ImageCheck::Result::Match:
        setIso(path);
        rememberVerifiedFile(path);
        qCDebug(MessageHandler::category) << metaObject()->className() << m_iso << "is already downloaded";
        if (checkOwnsStatus())
            setStatus(READY);
        updateSizeFromFile(path);
        return;
    case ImageCheck::Result::Mismatch:
        // Not ours to delete or overwrite: it may be the user's own file, or
        // another image that happens to have the same name.
        qCWarning(MessageHandler::category) << metaObject()->className() << "The existing file" << path
                                            << "does not match the announced size" << m_size << "and md5" << m_md5;
        if (checkOwnsStatus())
            fail(tr("The file %1 in your downloads folder is not the expected image. "
                    "Move or rename it, then try again.")
                     .arg(QDir::toNativeSeparators(path)));
        return;
    case ImageCheck::Result::Unreadable:
        if (checkOwnsStatus())
            fail(tr("The downloaded file is not readable."));
        return;
    case ImageCheck::Result::NoChecksum:
    case ImageCheck::Result::Aborted:
        return;
    }
}

void ReleaseVariant::onFileDownloaded(const QString &path, const QString &hash)
{
    checkDownloadedFile(path, hash, std::nullopt);
}

void ReleaseVariant::onFileChecked(const QString &path, const QString &hash, ImplantedChecksum::Result implanted)
{
    checkDownloadedFile(path, hash, implanted);
}

void ReleaseVariant::checkDownloadedFile(const QString &path, const QString &hash,
                                         const std::optional<ImplantedChecksum::Result> &implanted)
{
    m_temporaryPath.clear();
    m_transfer = nullptr;

    progress()->setValue(double(m_size));
    setStatus(DOWNLOAD_VERIFYING);
    progress()->setValue(0, 1);

    const QString expected = normalizedDigest(m_md5);
    if (!expected.isEmpty() && expected != normalizedDigest(hash)) {
        qCWarning(MessageHandler::category)
            << "Computed md5 hash of" << path << " - " << hash << "does not match expected" << m_md5;
        // Kept, the complete but wrong file would be resumed past its end by
        // every later attempt and fail the same way for ever.
        QFile::remove(path);
        fail(tr("The downloaded image is corrupted"));
        return;
    }
    qCDebug(MessageHandler::category) << metaObject()->className() << "md5 check passed";

    const auto done = [this, path](ImageCheck::Result result) { onImplantedDigestChecked(path, result); };
    // A file gone or closed to reading since is found out by reading it.
    if (implanted && *implanted != ImplantedChecksum::Result::Aborted && QFileInfo(path).isReadable()) {
        const ImageCheck::Result verdict = *implanted == ImplantedChecksum::Result::Match ? ImageCheck::Result::Match
            : *implanted == ImplantedChecksum::Result::Mismatch                          ? ImageCheck::Result::Mismatch
                                                                                          : ImageCheck::Result::NoChecksum;
        qCDebug(MessageHandler::category) << metaObject()->className() << "Implanted MD5 checked while downloading:"
                                          << verdict;
        runCheck([verdict](ImageCheck *check) { check->report(verdict); }, done);
        return;
    }
    const QString file = QDir::toNativeSeparators(path);
    runCheck([file](ImageCheck *check) { check->checkImplanted(file); }, done);
}

void ReleaseVariant::onImplantedDigestChecked(const QString &path, ImageCheck::Result result)
{
    // After a reset meanwhile the file still gets its outcome; the status
    // belongs to whatever the user started since.
    const bool ownsStatus = checkOwnsStatus();
    switch (result) {
    case ImageCheck::Result::Mismatch:
        qCWarning(MessageHandler::category) << "Internal MD5 media check of" << path << "failed with status" << 0;
        QFile::remove(path);
        if (ownsStatus)
            fail(tr("The downloaded image is corrupted"));
        return;
    case ImageCheck::Result::Unreadable:
        if (ownsStatus)
            fail(tr("The downloaded file is not readable."));
        return;
    case ImageCheck::Result::Aborted:
        // Stopped because the program is going away.
        return;
    case ImageCheck::Result::Match:
    case ImageCheck::Result::NoChecksum:
        break;
    }
    qCDebug(MessageHandler::category) << metaObject()->className() << "MD5 check passed";

    QString finalName = path;
    finalName.remove(QRegularExpression(QStringLiteral("[.]part$")));
    if (finalName != path) {
        qCDebug(MessageHandler::category) << metaObject()->className() << "Renaming from" << path << "to" << finalName;
        // QFile::rename never replaces an existing file.
        if (!QFile::rename(path, finalName)) {
            if (ownsStatus)
                fail(tr("Unable to rename the temporary file."));
            return;
        }
    }

    setIso(finalName);
    rememberVerifiedFile(finalName);
    qCDebug(MessageHandler::category) << metaObject()->className() << "Image is ready";
    if (ownsStatus)
        setStatus(READY);
    updateSizeFromFile(finalName);
}

void ReleaseVariant::onDownloadError(const QString &message)
{
    setErrorString(message);
    setStatus(FAILED_DOWNLOAD);
}

bool ReleaseVariant::erase()
{
    if (!m_iso.isEmpty() && QFile::remove(m_iso)) {
        qCDebug(MessageHandler::category) << metaObject()->className() << "Deleted" << m_iso;
        m_verified = VerifiedFile();
        m_iso.clear();
        emit isoChanged();
        return true;
    }
    qCWarning(MessageHandler::category) << metaObject()->className() << "An attempt to delete" << m_iso << "failed!";
    return false;
}

void ReleaseVariant::resetStatus()
{
    ++m_statusGeneration;
    if (!m_iso.isEmpty()) {
        setStatus(READY);
    } else {
        setStatus(PREPARING);
        if (m_progress)
            m_progress->setValue(0);
    }
    setErrorString(QString());
    emit statusChanged();
}

void ReleaseVariant::runCheck(const std::function<void(ImageCheck *)> &start,
                              const std::function<void(ImageCheck::Result)> &done)
{
    abortCheck();
    m_checkGeneration = m_statusGeneration;
    m_check = new ImageCheck(this);
    connect(m_check, &ImageCheck::progressed, this,
            [this](qint64 offset, qint64 total) { onMediaCheckAdvanced(offset, total); });
    connect(m_check, &ImageCheck::finished, this, [this, done](ImageCheck::Result result) {
        m_check->deleteLater();
        m_check = nullptr;
        const bool ownsStatus = checkOwnsStatus();
        done(result);
        // The status was reset meanwhile and stays as it is; whoever waits
        // for this image to be idle (a version on its way out) hears of it.
        if (!ownsStatus)
            emit statusChanged();
    });
    start(m_check);
}

int ReleaseVariant::onMediaCheckAdvanced(long long offset, long long total)
{
    if (m_progress && total > 0)
        m_progress->setValue(double(offset), double(total));
    return 0;
}

void ReleaseVariant::abortCheck()
{
    delete m_check;
    m_check = nullptr;
}
