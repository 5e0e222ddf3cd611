#pragma once

#include "download.h"
#include "downloadmanager.h"
#include "downloadreceiver.h"

#include <QObject>
#include <QSignalSpy>
#include <QString>
#include <QTest>

// Turns the receiver calls into signals and records them.
class TestReceiver : public QObject, public DownloadReceiver
{
    Q_OBJECT

public:
    using QObject::QObject;

    // Every report there was, in any of the three kinds.
    [[nodiscard]] qsizetype reports() const { return files.count() + pages.count() + errors.count(); }
    [[nodiscard]] QString error(int i = 0) const { return errors.at(i).at(0).toString(); }
    [[nodiscard]] QString hash() const { return files.at(0).at(1).toString(); }

    void onFileDownloaded(const QString &path, const QString &hash) override { emit fileDownloaded(path, hash); }
    void onStringDownloaded(const QString &text) override { emit stringDownloaded(text); }
    void onDownloadError(const QString &message) override { emit downloadError(message); }

signals:
    void fileDownloaded(const QString &path, const QString &hash);
    void stringDownloaded(const QString &text);
    void downloadError(const QString &message);

public:
    QSignalSpy files { this, &TestReceiver::fileDownloaded };
    QSignalSpy pages { this, &TestReceiver::stringDownloaded };
    QSignalSpy errors { this, &TestReceiver::downloadError };
};

// A transfer that ended for good deletes itself, and a deleted one reports
// nothing more: once no transfer but the current file download is left, what
// was reported is all there will be.
inline bool onlyCurrentTransferLeft(int timeout = 10000)
{
    return QTest::qWaitFor(
        [] {
            DownloadManager *downloads = DownloadManager::instance();
            const auto all = downloads->findChildren<Download *>(Qt::FindDirectChildrenOnly);
            return std::all_of(all.cbegin(), all.cend(),
                               [downloads](const Download *each) { return each == downloads->currentDownload(); });
        },
        timeout);
}
