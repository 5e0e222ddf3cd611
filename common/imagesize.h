#pragma once

#include <QString>
#include <QtGlobal>

// What a drive receives when an image file is written to it, as far as the
// file tells without being decoded. The program sizes drives and images with
// it; the helper is the one that decides what it decodes, by the same rule.
struct ReceivedSize
{
    // The helper decodes the file while it writes it.
    bool compressed = false;
    // The bytes the drive receives: for a compressed image the decoded size
    // its index declares, for any other regular file its length; -1 when
    // unknown (not a regular file, an index that cannot be read).
    qint64 bytes = -1;
};

// Whether the helper decodes an image of this name while writing it: a name
// ending in ".xz".
bool isCompressedImage(const QString &path);

// fd is the image opened for reading, path its name.
ReceivedSize receivedSize(int fd, const QString &path);
// Looks the file up by its name; reads only the index of a compressed image.
ReceivedSize receivedSize(const QString &path);
