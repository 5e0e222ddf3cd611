#pragma once

#include "job.h"

#include <QFileSystemWatcher>

class WriteJob : public Job
{
    Q_OBJECT
public:
    WriteJob(const QString &image, const QString &device);
    ~WriteJob() override;

    static int staticOnMediaCheckAdvanced(void *data, long long offset, long long total);
    int onMediaCheckAdvanced(long long offset, long long total);

public slots:
    void work() override;
    void onFileChanged(const QString &path);

private:
    bool write(int fd);
    bool writePlain(int fd);
    bool writeCompressed(int fd);
    void check(int fd);

    // Writes length bytes from buffer; a final block shorter than the device's
    // logical block size is padded with zeros, since O_DIRECT refuses it.
    bool writeBlock(int fd, char *buffer, std::size_t length, std::size_t bufferSize);

    QFileSystemWatcher m_watcher;
    std::size_t m_blockSize = 512;
};
