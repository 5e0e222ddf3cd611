// The judging of a download's answer on arbitrary headers. Input, one field a
// line: status, requested offset, part file length, announced size,
// Content-Length (-1 when absent), then the raw Content-Range value. Numbers
// are read as the download reads them, anything unreadable as 0.
//
// Whatever the headers say, a part file is only continued by a body that
// starts where it ends, nothing is stored past the announced size or the
// largest offset a file can have, and the part file is only ever complete
// when the server's total is its length.

#include "fuzzsupport.h"
#include "replyverdict.h"

#include <QByteArrayList>

#include <cstddef>
#include <cstdint>
#include <limits>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size)
{
    const QByteArrayList fields
        = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size)).split('\n');
    const auto number = [&fields](int i) { return i < fields.size() ? fields.at(i).trimmed().toLongLong() : 0; };
    ReplyVerdict::Headers headers;
    headers.status = int(number(0));
    const qint64 offset = number(1);
    const qint64 part = number(2);
    const qint64 announced = number(3);
    headers.contentLength = fields.size() > 4 ? number(4) : -1;
    headers.contentRange = fields.mid(5).join('\n');
    if (offset < 0 || part < 0 || headers.contentLength < -1)
        return 0;

    const ReplyVerdict verdict = ReplyVerdict::judge(headers, offset, part, announced);
    const auto action = verdict.action;
    const bool stores = action == ReplyVerdict::Append || action == ReplyVerdict::StartOver;
    // Where the body would end: past qint64 counts as past every limit.
    const qint64 start = action == ReplyVerdict::Append && headers.status == 206 ? offset : 0;
    const bool endsPastLargest
        = headers.contentLength >= 0 && headers.contentLength > std::numeric_limits<qint64>::max() - start;

    FuzzSupport::expect(headers.status == 200 || headers.status == 206 || headers.status == 416
                            || action == ReplyVerdict::Reject,
                        "an error answer is rejected");
    if (action == ReplyVerdict::Append)
        FuzzSupport::expect(headers.status == 200 ? part == 0 : offset == part,
                            "a body is appended only where the part file ends");
    FuzzSupport::expect(action != ReplyVerdict::StartOver || part > 0, "starting over only with a part file");
    FuzzSupport::expect(action != ReplyVerdict::Refetch || part > 0, "a refetch only with a part file to empty");
    FuzzSupport::expect(!stores || !endsPastLargest, "a Content-Length past the largest offset is too large");
    if (stores && announced > 0) {
        FuzzSupport::expect(verdict.limit >= 0 && verdict.limit <= announced, "the announced size limits the file");
        FuzzSupport::expect(headers.contentLength < 0 || start + headers.contentLength <= announced,
                            "no body that ends past the announced size");
    }
    FuzzSupport::expect(!stores || verdict.limit < 0 || verdict.limit >= start, "a limit behind the body's start");
    if (action == ReplyVerdict::Complete)
        FuzzSupport::expect(headers.status == 416 && part > 0 && verdict.total == part && verdict.limit == part
                                && offset == part && (announced <= 0 || announced == part),
                            "complete only when the server's total is the part file's length");
    return 0;
}
