#pragma once

#include <QByteArray>
#include <QList>
#include <QStringList>

// Image and device contents for the helper tests, and the files that hold them.
class TestImages
{
public:
    // Compressible, so that a few MiB of it make a small xz file.
    [[nodiscard]] static QByteArray pattern(qint64 size);
    // The image followed by zeros up to the next multiple of 512: the helper
    // fills its last write up to the logical block size, which is 512 when
    // the descriptor is not a block device.
    [[nodiscard]] static QByteArray padded(const QByteArray &image);
    // The start of an ISO 9660 image whose primary volume descriptor declares
    // a volume of volumeSize bytes: the system area, that descriptor and the
    // set terminator (36 KiB), as a download cut off there holds.
    [[nodiscard]] static QByteArray isoStart(qint64 volumeSize);
    // What the helper copies per system call: 1024 pages.
    [[nodiscard]] static qint64 bufferSize();
    // The lines the helper prints while it reads back an image of size bytes
    // that has no implanted checksum: the offset verified after every 4 MiB,
    // and at the end.
    [[nodiscard]] static QList<QByteArray> readBackOffsets(qint64 size);
};
