#pragma once

#include "imageformat.h"
#include "implantedchecksum.h"
#include "job.h"
#include "zipdirectory.h"
#include "xxh3.h"

#include <QByteArray>
#include <QFileSystemWatcher>

class DeviceWriter;

class WriteJob : public Job
{
    Q_OBJECT
public:
    WriteJob(const QString &image, const QString &device);
    ~WriteJob() override;

public slots:
    void work() override;
    void onFileChanged(const QString &path);

protected:
    // Pages in each buffer of the copy and the read-back: 4 MiB keeps a
    // drive streaming. A job that writes into a small file may use small
    // ones, so that small images already meet the buffers' boundaries.
    std::size_t m_bufferPages = 1024;

private:
    // Refuses, before the drive is touched, an image that cannot be right:
    // one that is empty, or an ISO shorter than its volume (status 2), or a
    // zip archive that does not hold exactly one file (status 4). Finds out
    // how the image is decoded. False when refused (reported).
    bool checkImage();
    bool checkArchive(int fd);
    // The same judgement on the sizes known so far.
    bool acceptSizes();
    void refuse(const QString &message);

    bool write(int fd);
    bool writePlain(int fd);
    bool writeCompressed(int fd);
    // Reads back what was written, once, and judges it: it must be what was
    // sent, and an image with an implanted checksum must match it.
    void check(int fd);
    // "DONE", "OK" and status 0.
    void succeed();

    // Looks at the first buffer of the image before it is written: an ISO
    // volume there must fit the image, and an implanted checksum is started
    // for the check. False when the image is refused (reported, status 2).
    bool inspectHead(const char *data, std::size_t length);
    // Waits for the writes, flushes the device and keeps what the check
    // needs; false when a write failed (reported, status 3) or the image
    // turned out empty or incomplete (status 2).
    bool finishCopy(DeviceWriter &writer);
    void printWritten(DeviceWriter &writer);

    QFileSystemWatcher m_watcher;
    // How the image is decoded, and whether its name failed to say so.
    ImageFormat m_format = ImageFormat::Plain;
    bool m_unannounced = false;
    // The one file of a zip archive.
    ZipDirectory m_entry;
    std::size_t m_blockSize = 512;

    // What the image says of its size before it is written: its length
    // (decoded, for xz) and the volume of an ISO; -1 while unknown.
    long long m_imageSize = -1;
    long long m_volumeSize = -1;
    bool m_refused = false;

    // The implanted checksum of the image, checked on the bytes sent (plain
    // images) or read back (xz images); it has none when the image carries none.
    ImplantedChecksum m_checksum;
    bool m_headSeen = false;
    // The bytes sent to the device (padding excluded) and their XXH3.
    long long m_sent = 0;
    Xxh3::Digest m_sentDigest {};
};
