#pragma once

#include "imageformat.h"

#include <QString>
#include <QtGlobal>

// What a drive receives when an image file is written to it, as far as the
// file tells without being decoded. The program sizes drives and images with
// it; the helper decides what it decodes by the same rule (imageformat.h):
// the file's first bytes, or its name where they show no known format.
struct ReceivedSize
{
    // The helper decodes the file while it writes it.
    bool compressed = false;
    // The bytes the drive receives: for a compressed image the decoded size
    // the file records (an xz index, a zstd frame header, a zip entry), for
    // any other regular file its length; -1 when unknown (not a regular file,
    // gzip or bzip2, a record that cannot be read).
    qint64 bytes = -1;
    // bytes is only a lower bound: the size of a zstd file's first frame,
    // when more frames may follow. Never 0 then.
    bool lowerBound = false;
};

// What the file name says of the format (".xz", ".gz", ".bz2", ".zst", ".zip").
ImageFormat formatOfPath(const QString &path);

// Whether the name claims a compressed format the helper decodes (".xz",
// ".gz", ".bz2", ".zst", ".zip"); what the file holds decides in the end.
bool isCompressedImage(const QString &path);

// fd is the image opened for reading, path its name.
ReceivedSize receivedSize(int fd, const QString &path);
// Looks the file up by its name; reads only its first bytes and what a
// compressed format records of its size.
ReceivedSize receivedSize(const QString &path);
