#pragma once

#include "downloadreceiver.h"

#include <QObject>
#include <QString>

// Turns the receiver calls into signals, so tests can watch them with QSignalSpy.
class TestReceiver : public QObject, public DownloadReceiver
{
    Q_OBJECT

public:
    using QObject::QObject;

    void onFileDownloaded(const QString &path, const QString &hash) override { emit fileDownloaded(path, hash); }
    void onStringDownloaded(const QString &text) override { emit stringDownloaded(text); }
    void onDownloadError(const QString &message) override { emit downloadError(message); }

signals:
    void fileDownloaded(const QString &path, const QString &hash);
    void stringDownloaded(const QString &text);
    void downloadError(const QString &message);
};
