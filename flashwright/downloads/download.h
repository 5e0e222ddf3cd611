#pragma once

#include "hashworker.h"

#include <QByteArray>
#include <QNetworkReply>
#include <QObject>
#include <QSslError>
#include <QString>
#include <QTimer>

class DownloadManager;
class DownloadReceiver;
class Progress;
class QFile;

// One transfer for the DownloadManager: a page fetch collected in memory, or
// a file download appended to "<path>.part", resumed from whatever an earlier
// attempt left there and hashed with MD5 as it grows. Neither grows without
// bound: a page stops at PageLimit, a file at its announced or served size.
class Download : public QObject
{
    Q_OBJECT

public:
    static constexpr int InactivityTimeout = 15000;
    static constexpr qint64 NetworkChunk = 65536;
    static constexpr qint64 HashChunk = 1048576;
    static constexpr qint64 ReadBufferSize = 67108864;
    static constexpr qint64 FullDiskThreshold = 5242879;
    // A page larger than this is refused: a catalogue of tens of thousands of
    // entries takes a few MiB.
    static constexpr qint64 PageLimit = 67108864;

    // announcedSize: the file's size as the catalogue gives it, 0 when it
    // gives none; the part file never grows past it.
    Download(DownloadManager *parent, DownloadReceiver *receiver, const QString &path, Progress *progress,
             qint64 announcedSize = 0);

    DownloadManager *manager();
    void handleNewReply(QNetworkReply *reply);
    [[nodiscard]] qint64 bytesDownloaded() const { return m_bytesDownloaded; }
    [[nodiscard]] bool hasCatchedUp() const { return !m_catchingUp; }

    // Reports message to the receiver from the event loop, unless this
    // download is deleted first, and then deletes it.
    void failLater(const QString &message);

private slots:
    void start();
    void catchUp();
    void onReadyRead();
    void onError(QNetworkReply::NetworkError code);
    void onSslErrors(const QList<QSslError> &errors);
    void onFinished();
    void onDownloadProgress(qlonglong bytesReceived, qlonglong bytesTotal);
    void onTimedOut();

private:
    // Hands the result to the receiver and ends this download.
    void finish();
    void fail(const QString &message);
    void failWriting();
    // Counts, hashes and stores one chunk; false after a failed write.
    bool store(const QByteArray &chunk);
    void dropReply();
    void checkStatus();
    // Empties the part file and the digest; false (and failed) when the
    // file cannot be emptied.
    bool startPartAgain();
    // Drops the current reply and asks for the file from its first byte.
    void requestFromStart();
    // The file passes the size it may have: nothing of it is kept.
    void failTooLarge();
    // Reports a failed page fetch, once.
    void failPage(const QString &message);
    void failPageTooLarge();
    QNetworkReply *nextReply();
    int timeout();

    qint64 m_announcedSize;
    // The size the part file may not pass, and the whole file's size as the
    // server gives it; -1 while unknown.
    qint64 m_limit = -1;
    qint64 m_total = -1;
    qint64 m_resumedLength = 0;
    qint64 m_bytesDownloaded = 0;
    // Body bytes stored from the current reply.
    qint64 m_replyBytes = 0;
    QNetworkReply *m_reply = nullptr;
    DownloadReceiver *m_receiver;
    QString m_path;
    Progress *m_progress;
    QTimer m_timer;
    bool m_catchingUp = false;
    QFile *m_file = nullptr;
    QByteArray m_buffer;
    // Fed with what has been written to the part file, in order.
    HashWorker m_hash;
    // Whether the current reply's status was looked at yet.
    bool m_statusChecked = false;
    // The current reply is an error answer whose body is not file data.
    bool m_discarding = false;
    // The server says the part file already holds the whole file.
    bool m_complete = false;
    bool m_failed = false;
    bool m_readScheduled = false;
};
