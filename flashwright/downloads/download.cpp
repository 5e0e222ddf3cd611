#include "download.h"

#include "downloadmanager.h"
#include "downloadreceiver.h"
#include "messagehandler.h"
#include "progress.h"
#include "replyverdict.h"

#include <QCoreApplication>
#include <QFile>
#include <QPointer>
#include <QStorageInfo>

Download::Download(DownloadManager *parent, DownloadReceiver *receiver, const QString &path, Progress *progress,
                   qint64 announcedSize)
    : QObject(parent)
    , m_announcedSize(announcedSize)
    , m_limit(announcedSize > 0 ? announcedSize : -1)
    , m_receiver(receiver)
    , m_path(path)
    , m_progress(progress)
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &Download::onTimedOut);

    if (!m_path.isEmpty()) {
        m_file = new QFile(m_path + QStringLiteral(".part"), this);
        if (!m_file->exists() && m_file->open(QIODevice::WriteOnly))
            m_file->close();
        // No piece of the image is longer than the image: not worth hashing.
        if (m_limit >= 0 && m_file->size() > m_limit) {
            qCDebug(MessageHandler::category)
                << metaObject()->className() << "The part file is longer than the image, starting it again";
            m_file->resize(0);
        }
        if (m_file->exists()) {
            m_bytesDownloaded = m_file->size();
            m_catchingUp = true;
        }
    }
    QTimer::singleShot(0, this, &Download::start);
}

DownloadManager *Download::manager()
{
    return qobject_cast<DownloadManager *>(parent());
}

void Download::failLater(const QString &message)
{
    QTimer::singleShot(0, this, [this, message]() { fail(message); });
}

void Download::fail(const QString &message)
{
    m_failed = true;
    m_timer.stop();
    dropReply();
    m_receiver->onDownloadError(message);
    deleteLater();
}

void Download::start()
{
    if (m_failed)
        return;
    if (!m_catchingUp && !m_path.isEmpty()) {
        qCDebug(MessageHandler::category) << metaObject()->className() << "Creating a new empty file";
        // Without a part file nothing could ever be stored: say so rather than
        // wait for a request that is never made.
        if (!m_file->open(QIODevice::WriteOnly)) {
            fail(tr("The download file is not writable."));
            return;
        }
        m_file->close();
        m_catchingUp = true;
    }
    if (m_catchingUp) {
        qCDebug(MessageHandler::category)
            << metaObject()->className() << "Will need to precompute the hash of the previously downloaded part";
        if (!m_file->open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
            fail(tr("The download file is not writable."));
            return;
        }
        m_resumedLength = 0;
        QTimer::singleShot(0, this, &Download::catchUp);
    }
}

void Download::catchUp()
{
    const QByteArray chunk = m_file->read(HashChunk);
    m_resumedLength += chunk.size();
    m_hash.add(chunk);
    if (m_progress && m_progress->to() > m_resumedLength)
        m_progress->setValue(m_resumedLength);
    m_bytesDownloaded = m_resumedLength;

    if (!m_file->atEnd()) {
        if (chunk.isEmpty()) {
            // Unreadable part: appending to it would leave a file whose start
            // was never hashed.
            fail(tr("The download file is not writable."));
            return;
        }
        QTimer::singleShot(0, this, &Download::catchUp);
        return;
    }

    qCDebug(MessageHandler::category) << metaObject()->className()
                                      << "Finished computing the hash of the downloaded part";
    m_file->close();
    // Unbuffered: a failed write shows at once, not when a buffer is flushed at the end.
    if (!m_file->open(QIODevice::Append | QIODevice::Unbuffered)) {
        fail(tr("The download file is not writable."));
        return;
    }
    m_catchingUp = false;
    if (QNetworkReply *reply = nextReply())
        handleNewReply(reply);
}

QNetworkReply *Download::nextReply()
{
    // Only the current download may consume the manager's addresses; one that
    // was replaced would otherwise request with its own length for the new file.
    DownloadManager *downloads = manager();
    if (!downloads || downloads->currentDownload() != this)
        return nullptr;
    return downloads->tryAnotherMirror();
}

void Download::handleNewReply(QNetworkReply *reply)
{
    if (!reply) {
        m_receiver->onDownloadError(tr("Unable to fetch the requested image."));
        return;
    }
    qCDebug(MessageHandler::category) << metaObject()->className()
                                      << "Trying to download from a mirror:" << reply->url();

    dropReply();
    m_reply = reply;
    m_replyBytes = 0;
    m_statusChecked = false;
    m_discarding = false;
    reply->setReadBufferSize(ReadBufferSize);
    reply->setParent(this);
    connect(reply, &QNetworkReply::readyRead, this, &Download::onReadyRead);
    connect(reply, &QNetworkReply::errorOccurred, this, &Download::onError);
    connect(reply, &QNetworkReply::sslErrors, this, &Download::onSslErrors);
    connect(reply, &QNetworkReply::finished, this, &Download::onFinished);
    if (m_progress)
        connect(reply, &QNetworkReply::downloadProgress, this, &Download::onDownloadProgress);

    m_timer.start(timeout());
    if (reply->bytesAvailable() > 0)
        onReadyRead();
}

int Download::timeout()
{
    DownloadManager *downloads = manager();
    return downloads ? downloads->inactivityTimeout() : InactivityTimeout;
}

void Download::dropReply()
{
    if (!m_reply)
        return;
    QNetworkReply *reply = m_reply;
    m_reply = nullptr;
    reply->disconnect(this);
    reply->abort();
    reply->deleteLater();
}

void Download::checkStatus()
{
    if (m_statusChecked)
        return;
    const QVariant status = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid())
        return;
    m_statusChecked = true;
    const QVariant length = m_reply->header(QNetworkRequest::ContentLengthHeader);

    if (!m_file) {
        if (length.isValid() && length.toLongLong() > PageLimit)
            failPageTooLarge();
        return;
    }

    const QByteArray range = m_reply->request().rawHeader("Range");
    ReplyVerdict::Headers headers;
    headers.status = status.toInt();
    headers.contentRange = m_reply->rawHeader("Content-Range");
    headers.contentLength = length.isValid() ? length.toLongLong() : -1;
    const qint64 offset = range.startsWith("bytes=") ? range.mid(6).chopped(1).toLongLong() : 0;
    const ReplyVerdict verdict = ReplyVerdict::judge(headers, offset, m_bytesDownloaded, m_announcedSize);
    m_limit = verdict.limit;
    m_total = verdict.total;

    switch (verdict.action) {
    case ReplyVerdict::Append:
        return;
    case ReplyVerdict::StartOver:
        qCDebug(MessageHandler::category)
            << metaObject()->className() << "The server ignored the range, starting the part file again";
        startPartAgain();
        return;
    case ReplyVerdict::Complete:
        m_discarding = true;
        m_complete = true;
        return;
    case ReplyVerdict::Reject:
        // The body of an error answer is an error page, not a piece of the
        // file: stored, it would corrupt every later resume. The error itself
        // is reported when the reply fails or ends.
        m_discarding = true;
        return;
    case ReplyVerdict::Refetch:
        m_discarding = true;
        requestFromStart();
        return;
    case ReplyVerdict::TooLarge:
        m_discarding = true;
        failTooLarge();
        return;
    }
}

bool Download::startPartAgain()
{
    if (!m_file->resize(0)) {
        failWriting();
        return false;
    }
    m_hash.reset();
    m_resumedLength = 0;
    m_bytesDownloaded = 0;
    m_replyBytes = 0;
    if (m_progress)
        m_progress->setValue(0);
    return true;
}

void Download::requestFromStart()
{
    qCDebug(MessageHandler::category) << metaObject()->className()
                                      << "The part file does not continue the file on the server, starting it again";
    QNetworkRequest request = m_reply->request();
    dropReply();
    if (!startPartAgain())
        return;
    request.setRawHeader("Range", "bytes=0-");
    DownloadManager *downloads = manager();
    handleNewReply(downloads ? downloads->get(request) : nullptr);
}

void Download::failTooLarge()
{
    qCWarning(MessageHandler::category) << metaObject()->className() << "The file passes its size of" << m_limit
                                        << "bytes, deleting" << m_file->fileName();
    dropReply();
    // Deleted, not kept for a resume: nothing in it can be trusted.
    m_file->close();
    m_file->remove();
    fail(tr("The image on the server is larger than expected. The download was stopped and its partial file "
            "deleted."));
}

void Download::failPage(const QString &message)
{
    if (m_failed)
        return;
    m_failed = true;
    m_timer.stop();
    m_receiver->onDownloadError(message);
}

void Download::failPageTooLarge()
{
    qCWarning(MessageHandler::category) << metaObject()->className() << "Refusing a reply of more than" << PageLimit
                                        << "bytes from" << (m_reply ? m_reply->url() : QUrl());
    m_buffer.clear();
    dropReply();
    failPage(tr("The server's answer is larger than 64 MiB."));
    deleteLater();
}

void Download::onReadyRead()
{
    QNetworkReply *reply = m_reply;
    if (!reply || m_failed)
        return;
    checkStatus();
    // Failed, or the answer was dropped for a new request.
    if (m_failed || m_reply != reply)
        return;

    const QByteArray chunk = m_reply->read(NetworkChunk);
    qWarning() << "onReadyRead" << this << "path=" << m_path << "file?" << (m_file ? "yes" : "no");

    if (m_reply->error() == QNetworkReply::NoError && !chunk.isEmpty() && !m_discarding) {
        if (!store(chunk))
            return;
    }

    // One chunk per pass of the event loop keeps the interface responsive;
    // a single chain of passes is enough however often readyRead fires.
    if (m_reply && m_reply->bytesAvailable() > 0 && !m_readScheduled) {
        m_readScheduled = true;
        QTimer::singleShot(0, this, [this]() {
            m_readScheduled = false;
            onReadyRead();
        });
    }
}

bool Download::store(const QByteArray &chunk)
{
    // A server (or a proxy) that keeps sending would fill the disk.
    if (m_file && m_limit >= 0 && m_bytesDownloaded + chunk.size() > m_limit) {
        failTooLarge();
        return false;
    }
    if (!m_file && m_buffer.size() + chunk.size() > PageLimit) {
        failPageTooLarge();
        return false;
    }
    m_bytesDownloaded += chunk.size();
    m_replyBytes += chunk.size();
    const QVariant length = m_reply->header(QNetworkRequest::ContentLengthHeader);
    if (m_progress && length.isValid())
        m_progress->setTo(length.toLongLong() + m_resumedLength);
    if (m_progress)
        m_progress->setValue(m_bytesDownloaded);
    if (m_timer.isActive())
        m_timer.start(timeout());

    if (m_path.isEmpty()) {
        m_buffer.append(chunk);
        return true;
    }
    qWarning() << "write to file ";
    if (m_file && m_file->isOpen() && m_file->isWritable() && m_file->write(chunk) == chunk.size()) {
        m_hash.add(chunk);
        return true;
    }
    failWriting();
    return false;
}

void Download::failWriting()
{
    const QStorageInfo storage(m_file ? m_file->fileName() : m_path);
    const bool full = storage.isValid() && storage.bytesAvailable() <= FullDiskThreshold;
    fail(full ? tr("You ran out of space in your Downloads folder.") : tr("The download file is not writable."));
}

void Download::onError(QNetworkReply::NetworkError code)
{
    auto *reply = qobject_cast<QNetworkReply *>(sender());
    if (!reply || reply != m_reply)
        return;
    qWarning() << "Error" << code << "reading from" << reply->url() << ":" << reply->errorString();
    if (m_path.isEmpty()) {
        failPage(reply->errorString());
        return;
    }

    checkStatus();
    if (m_failed || m_reply != reply)
        return;
    if (m_complete) {
        qCDebug(MessageHandler::category) << metaObject()->className() << "The part file is already complete";
        finish();
        return;
    }

    // What arrived before a broken connection is good data of the file; keep
    // it so that the next attempt does not fetch it again.
    while (!m_discarding && !m_failed && m_reply == reply && reply->bytesAvailable() > 0) {
        if (!store(reply->read(NetworkChunk)))
            return;
    }

    if (QNetworkReply *next = nextReply())
        handleNewReply(next);
    else
        m_receiver->onDownloadError(reply->errorString());
}

void Download::onSslErrors(const QList<QSslError> &errors)
{
    auto *reply = qobject_cast<QNetworkReply *>(sender());
    if (!reply || reply != m_reply)
        return;
    qWarning() << "Error reading from" << reply->url() << ":" << reply->errorString();
    QStringList texts;
    for (const QSslError &error : errors) {
        qWarning() << "SSL error" << error.errorString();
        texts.append(error.errorString());
    }
    // The reply fails only after this signal, so until then its error
    // string says "Unknown error"; the certificate problems say more.
    const QString message = reply->error() != QNetworkReply::NoError || texts.isEmpty()
        ? reply->errorString()
        : texts.join(QStringLiteral("; "));
    // A page fetch reports once; the failure of its reply that follows says
    // nothing new.
    if (m_path.isEmpty())
        failPage(message);
    else
        m_receiver->onDownloadError(message);
}

void Download::onFinished()
{
    auto *reply = qobject_cast<QNetworkReply *>(sender());
    if (!reply || reply != m_reply)
        return;
    m_timer.stop();

    if (reply->error() != QNetworkReply::NoError) {
        qCDebug(MessageHandler::category)
            << metaObject()->className() << "An error occurred at the end:" << reply->errorString();
        if (m_file && m_file->exists() && m_file->size() == 0) {
            m_file->close();
            m_file->remove();
        }
        // Nothing will replace a page fetch, so it goes now.
        if (m_path.isEmpty())
            deleteLater();
        return;
    }

    // Handlers of other objects run while draining; one of them may cancel us.
    QPointer<Download> self(this);
    while (self && m_reply == reply && !m_failed && m_reply->bytesAvailable() > 0) {
        onReadyRead();
        QCoreApplication::processEvents(QEventLoop::ExcludeSocketNotifiers);
    }
    if (!self || m_reply != reply || m_failed)
        return;

    // Qt may take a connection that closes in the middle of the body for the
    // end of it, and answers such as an unfollowed redirect end without an
    // error: neither may pass for the whole file.
    // A server may also send less than the whole file in a ranged answer
    // that is complete in itself.
    const QVariant length = m_reply->header(QNetworkRequest::ContentLengthHeader);
    if ((m_file && m_discarding) || (length.isValid() && m_replyBytes < length.toLongLong())
        || (m_file && m_total >= 0 && m_bytesDownloaded < m_total)) {
        qWarning() << "Error reading from" << m_reply->url() << ": status"
                   << m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() << "with" << m_replyBytes
                   << "of" << length.toLongLong() << "bytes";
        dropReply();
        if (!m_file) {
            failPage(tr("The server's answer ended before it was complete."));
            deleteLater();
            return;
        }
        if (QNetworkReply *next = nextReply()) {
            handleNewReply(next);
            return;
        }
        if (m_file->size() == 0) {
            m_file->close();
            m_file->remove();
        }
        m_receiver->onDownloadError(tr("Unable to fetch the requested image."));
        return;
    }

    qCDebug(MessageHandler::category) << metaObject()->className() << "Finished successfully";
    finish();
}

void Download::finish()
{
    m_timer.stop();
    dropReply();
    if (m_file) {
        m_file->close();
        const QString hash = QString::fromLatin1(m_hash.result());
        m_receiver->onFileChecked(m_file->fileName(), hash, m_hash.implantedResult());
    } else {
        m_receiver->onStringDownloaded(QString::fromUtf8(m_buffer));
    }
    deleteLater();
}

void Download::onDownloadProgress(qlonglong bytesReceived, qlonglong bytesTotal)
{
    Q_UNUSED(bytesReceived)
    Q_UNUSED(bytesTotal)
}

void Download::onTimedOut()
{
    if (!m_reply)
        return;
    qWarning() << m_reply->url() << "timed out. Trying another mirror.";
    dropReply();
    if (m_path.isEmpty()) {
        failPage(tr("Connection timed out"));
        deleteLater();
        return;
    }

    if (QNetworkReply *next = nextReply())
        handleNewReply(next);
    else
        m_receiver->onDownloadError(tr("Connection timed out"));
}
