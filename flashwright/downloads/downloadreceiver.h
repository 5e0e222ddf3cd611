#pragma once

#include "implantedchecksum.h"

#include <QString>

// What a page fetch or a file download reports back to. Implemented by the
// catalogue, which owns the receivers; the downloads never delete one.
class DownloadReceiver
{
public:
    // path is the part file; hash the lowercase hexadecimal MD5 of its whole content.
    virtual void onFileDownloaded(const QString &path, const QString &hash)
    {
        Q_UNUSED(path)
        Q_UNUSED(hash)
    }
    // The same, with the verdict of the MD5 checksum implanted in the file
    // (an ISO image), checked as the file arrived: NoChecksum when it has none.
    // By default only the digest is passed on.
    virtual void onFileChecked(const QString &path, const QString &hash, ImplantedChecksum::Result implanted)
    {
        Q_UNUSED(implanted)
        onFileDownloaded(path, hash);
    }
    // text is the response body decoded as UTF-8.
    virtual void onStringDownloaded(const QString &text) { Q_UNUSED(text) }
    virtual void onDownloadError(const QString &message) = 0;

protected:
    // Receivers are never deleted through this interface.
    ~DownloadReceiver() = default;
};
