#pragma once

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
    // text is the response body decoded as UTF-8.
    virtual void onStringDownloaded(const QString &text) { Q_UNUSED(text) }
    virtual void onDownloadError(const QString &message) = 0;

protected:
    // Receivers are never deleted through this interface.
    ~DownloadReceiver() = default;
};
