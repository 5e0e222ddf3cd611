#pragma once

#include <QByteArray>
#include <QtGlobal>

// What a file download does with the answer to its request for the file from
// a byte offset on ("Range: bytes=<offset>-"), judged from the answer's status
// and headers alone, before any of its body is stored. A part file is only
// ever continued by a body that starts exactly where it ends and belongs to a
// file of the size the catalogue announced.
struct ReplyVerdict
{
    enum Action {
        // The body continues the part file at the requested offset.
        Append,
        // The body is the whole file from its first byte (a server that
        // ignores "Range"): empty the part file, then store the body.
        StartOver,
        // The part file is no piece of this file, or the answer fits no byte
        // of it: empty the part file and ask for the file from its first byte.
        Refetch,
        // The part file already holds the whole file (416 with its length).
        Complete,
        // The file is larger than it may be: delete the part file and fail.
        TooLarge,
        // No piece of the file (an error answer, or one that fits nothing
        // while the part file is empty): store nothing.
        Reject,
    };

    struct Headers
    {
        int status = 0;
        // The raw "Content-Range" value, empty when absent.
        QByteArray contentRange;
        // -1 when absent.
        qint64 contentLength = -1;
    };

    // offset: where the request asked the body to start; partLength: what the
    // part file holds; announcedSize: the catalogue's size of the file, 0 or
    // less when it announced none.
    [[nodiscard]] static ReplyVerdict judge(const Headers &headers, qint64 offset, qint64 partLength,
                                            qint64 announcedSize);

    Action action = Reject;
    // The size the part file may not pass, -1 when nothing tells it: the
    // announced size or the size the server gives, whichever is smaller.
    qint64 limit = -1;
    // The size of the whole file as the server gives it, -1 when it does not.
    qint64 total = -1;
};
