#pragma once

#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QObject>
#include <QString>
#include <QStringList>

class Download;
class DownloadReceiver;
class Progress;
class QNetworkReply;
class QUrl;

// The program's one network front end: builds every request, starts page
// fetches and resumable file downloads, and keeps the one current file
// download with the addresses still to try for it.
class DownloadManager : public QObject
{
    Q_OBJECT

public:
    static DownloadManager *instance();

    // The user's downloads folder.
    static QString dir();
    static QString userAgent();

    // Returns the final path when the file is already there (nothing starts),
    // otherwise the part file's path ending in ".part"; the outcome reaches
    // the receiver later, from the event loop. announcedSize is the file's
    // size as the catalogue gives it (0 for none): a transfer that passes it
    // fails and leaves no part file.
    QString downloadFile(DownloadReceiver *receiver, const QUrl &url, const QString &folder, Progress *progress,
                         qint64 announcedSize = 0);
    void fetchPageAsync(DownloadReceiver *receiver, const QString &url);
    // Requests the current file from the next address, continuing where the
    // part file stands; null when no address is left.
    QNetworkReply *tryAnotherMirror();
    QNetworkReply *get(QNetworkRequest request);

    Q_INVOKABLE void openDownloadFolder(const QString &filePath);
    Q_INVOKABLE void cancel();
    Q_INVOKABLE bool isDownloaded(const QUrl &url);

    // The file download in progress or last started, if any.
    [[nodiscard]] Download *currentDownload() const { return m_current; }

    // How long a transfer may go without data; tests shorten it.
    [[nodiscard]] int inactivityTimeout() const { return m_inactivityTimeout; }
    void setInactivityTimeout(int milliseconds);

    // The file name a download of url is stored under, or an empty string
    // when the URL names nothing that can safely live inside a folder.
    [[nodiscard]] static QString fileNameOf(const QUrl &url);

private:
    explicit DownloadManager(QObject *parent = nullptr);
    QNetworkRequest makeRequest(const QUrl &url) const;

    Download *m_current = nullptr;
    QStringList m_mirrors;
    QNetworkAccessManager m_manager;
    int m_inactivityTimeout;
};
