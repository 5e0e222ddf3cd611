#pragma once

#include "job.h"
#include "md5.h"

#include <QByteArray>
#include <QFileSystemWatcher>

class DeviceWriter;

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
    // Reads back what was written and compares it with what was sent.
    void checkReadBack(int fd);
    // "DONE", "OK" and status 0.
    void succeed();

    // Looks at the first buffer of the image: an implanted checksum there
    // is what verifies the drive; without one, the bytes are hashed as they
    // go out and read back afterwards.
    void inspectHead(DeviceWriter &writer, const char *data, std::size_t length);
    // Waits for the writes and keeps what the check needs; false when a
    // write failed (reported, status 3).
    bool finishCopy(DeviceWriter &writer);
    void printWritten(DeviceWriter &writer);

    QFileSystemWatcher m_watcher;
    std::size_t m_blockSize = 512;

    // The start of the image as sent, holding its volume descriptors, when
    // it carries an implanted checksum; empty otherwise.
    QByteArray m_head;
    bool m_headSeen = false;
    // The bytes sent to the device (padding excluded) and their MD5.
    long long m_sent = 0;
    Md5::Digest m_sentDigest {};
};
