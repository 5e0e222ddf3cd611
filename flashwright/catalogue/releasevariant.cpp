#include "releasevariant.h"

#include "download.h"
#include "downloadmanager.h"
#include "drivebackend.h"
#include "imagesize.h"
#include "implantedmd5.h"
#include "messagehandler.h"
#include "progress.h"
#include "release.h"
#include "releasearchitecture.h"
#include "releasemanager.h"
#include "releaseversion.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QMetaEnum>
#include <QFileInfo>
#include <QRegularExpression>
#include <QThread>
#include <QUrl>

#include <algorithm>
#include <chrono>
#include <memory>

namespace {

constexpr qint64 HashReadSize = 4 * 1024 * 1024;
// How often the check's position is shown: often enough for a bar that moves
// smoothly, rare enough to cost nothing next to the reading.
constexpr qint64 ProgressInterval = 40;

qint64 monotonicMilliseconds()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

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
        return m_checkThread != nullptr;
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
    // The helper unpacks a file by this name ending: such an image needs a
    // drive as large as what it unpacks to, which the index at the file's
    // end tells without decoding anything.
    const ReceivedSize received = receivedSize(path);
    if (!received.compressed) {
        setRealSize(0);
        return;
    }
    if (received.bytes < 0) {
        // The helper finds out while it writes, and stops at the drive's end.
        qCDebug(MessageHandler::category) << metaObject()->className() << "No decoded size in the index of" << path;
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
    if (m_checkThread) {
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
        onExistingFileChecked(path, 0);
        return;
    }

    setStatus(DOWNLOAD_VERIFYING);
    progress()->setValue(0, 1);
    runCheck(
        [this, path, expected]() -> int {
            QFile file(path);
            if (!file.open(QIODevice::ReadOnly))
                return -2;
            const qint64 total = file.size();
            QCryptographicHash hash(QCryptographicHash::Md5);
            QByteArray buffer(HashReadSize, Qt::Uninitialized);
            qint64 done = 0;
            onMediaCheckAdvanced(0, total);
            for (;;) {
                const qint64 count = file.read(buffer.data(), buffer.size());
                if (count < 0)
                    return -2;
                if (count == 0)
                    break;
                hash.addData(QByteArrayView(buffer.constData(), count));
                done += count;
                if (onMediaCheckAdvanced(done, total) != 0)
                    return 2;
            }
            return QString::fromLatin1(hash.result().toHex()) == expected ? 1 : 0;
        },
        [this, path](int result) { onExistingFileChecked(path, result); });
}

void ReleaseVariant::onExistingFileChecked(const QString &path, int result)
{
    switch (result) {
    case 1:
        setIso(path);
        rememberVerifiedFile(path);
        qCDebug(MessageHandler::category) << metaObject()->className() << m_iso << "is already downloaded";
        if (checkOwnsStatus())
            setStatus(READY);
        updateSizeFromFile(path);
        return;
    case 0:
        // Not ours to delete or overwrite: it may be the user's own file, or
        // another image that happens to have the same name.
        qCWarning(MessageHandler::category) << metaObject()->className() << "The existing file" << path
                                            << "does not match the announced size" << m_size << "and md5" << m_md5;
        if (checkOwnsStatus())
            fail(tr("The file %1 in your downloads folder is not the expected image. "
                    "Move or rename it, then try again.")
                     .arg(QDir::toNativeSeparators(path)));
        return;
    case -2:
        if (checkOwnsStatus())
            fail(tr("The downloaded file is not readable."));
        return;
    default:
        return;
    }
}

void ReleaseVariant::onFileDownloaded(const QString &path, const QString &hash)
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

    checkImplantedDigest(path);
}

void ReleaseVariant::checkImplantedDigest(const QString &path)
{
    const QByteArray file = QFile::encodeName(QDir::toNativeSeparators(path));
    runCheck(
        [this, file]() { return mediaCheckFile(file.constData(), &ReleaseVariant::staticOnMediaCheckAdvanced, this); },
        [this, path](int result) { onImplantedDigestChecked(path, result); });
}

void ReleaseVariant::onImplantedDigestChecked(const QString &path, int result)
{
    // After a reset meanwhile the file still gets its outcome; the status
    // belongs to whatever the user started since.
    const bool ownsStatus = checkOwnsStatus();
    switch (result) {
    case 0:
        qCWarning(MessageHandler::category) << "Internal MD5 media check of" << path << "failed with status" << result;
        QFile::remove(path);
        if (ownsStatus)
            fail(tr("The downloaded image is corrupted"));
        return;
    case -2:
        if (ownsStatus)
            fail(tr("The downloaded file is not readable."));
        return;
    case 2:
        // Stopped because the program is going away.
        return;
    default:
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

void ReleaseVariant::runCheck(const std::function<int()> &job, const std::function<void(int)> &done)
{
    m_checkAbort = false;
    m_checkProgressPosted = false;
    m_checkLastPost = 0;
    m_checkGeneration = m_statusGeneration;

    auto result = std::make_shared<int>(2);
    const quint64 serial = ++m_checkSerial;
    m_checkThread = QThread::create([job, result]() { *result = job(); });
    connect(m_checkThread, &QThread::finished, this, [this, result, done, serial]() {
        // A check that was aborted (the program is quitting) reports nothing.
        if (!m_checkThread || serial != m_checkSerial)
            return;
        m_checkThread->wait();
        showCheckProgress();
        delete m_checkThread;
        m_checkThread = nullptr;
        const bool ownsStatus = checkOwnsStatus();
        done(*result);
        // The status was reset meanwhile and stays as it is; whoever waits
        // for this image to be idle (a version on its way out) hears of it.
        if (!ownsStatus)
            emit statusChanged();
    });
    // A check must not outlive the program's objects.
    if (QCoreApplication *application = QCoreApplication::instance())
        connect(application, &QCoreApplication::aboutToQuit, this, &ReleaseVariant::abortCheck, Qt::UniqueConnection);
    m_checkThread->start();
}

int ReleaseVariant::staticOnMediaCheckAdvanced(void *data, long long offset, long long total)
{
    return static_cast<ReleaseVariant *>(data)->onMediaCheckAdvanced(offset, total);
}

int ReleaseVariant::onMediaCheckAdvanced(long long offset, long long total)
{
    m_checkOffset.store(offset, std::memory_order_relaxed);
    m_checkTotal.store(total, std::memory_order_relaxed);
    const qint64 now = monotonicMilliseconds();
    if (offset >= total || now - m_checkLastPost >= ProgressInterval) {
        // At most one progress event waits in the main thread's queue.
        if (!m_checkProgressPosted.exchange(true)) {
            m_checkLastPost = now;
            QMetaObject::invokeMethod(this, &ReleaseVariant::showCheckProgress, Qt::QueuedConnection);
        }
    }
    return m_checkAbort.load() ? 1 : 0;
}

void ReleaseVariant::showCheckProgress()
{
    m_checkProgressPosted = false;
    if (!m_checkThread)
        return;
    const long long total = m_checkTotal.load(std::memory_order_relaxed);
    // The reader ends with the image's size, which may pass the checked length.
    const long long offset = std::min(m_checkOffset.load(std::memory_order_relaxed), total);
    if (m_progress && total > 0)
        m_progress->setValue(double(offset), double(total));
}

void ReleaseVariant::abortCheck()
{
    if (!m_checkThread)
        return;
    m_checkAbort = true;
    m_checkThread->wait();
    delete m_checkThread;
    m_checkThread = nullptr;
}
