#include "replyverdict.h"

#include <limits>

namespace {

// "bytes <start>-<end>/<total>", "bytes <start>-<end>/*" or "bytes */<total>";
// -1 for what the header leaves open or gives in no valid form.
struct ContentRange
{
    bool valid = false;
    qint64 start = -1;
    qint64 end = -1;
    qint64 total = -1;
};

// Decimal digits only, small enough for qint64; -1 otherwise.
qint64 number(const QByteArray &text)
{
    if (text.isEmpty() || text.size() > 18)
        return -1;
    qint64 value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return -1;
        value = value * 10 + (c - '0');
    }
    return value;
}

ContentRange parseContentRange(const QByteArray &header)
{
    ContentRange range;
    const QByteArray text = header.trimmed();
    if (!text.toLower().startsWith("bytes "))
        return range;
    const QByteArray spec = text.mid(6).trimmed();
    const qsizetype slash = spec.indexOf('/');
    if (slash < 0)
        return range;
    const QByteArray span = spec.left(slash);
    const QByteArray total = spec.mid(slash + 1);
    if (total != "*") {
        range.total = number(total);
        if (range.total < 0)
            return range;
    }
    if (span == "*") {
        // Only an answer that refuses a range says neither start nor end.
        range.valid = range.total >= 0;
        return range;
    }
    const qsizetype dash = span.indexOf('-');
    if (dash < 0)
        return range;
    range.start = number(span.left(dash));
    range.end = number(span.mid(dash + 1));
    range.valid = range.start >= 0 && range.end >= range.start && (range.total < 0 || range.end < range.total);
    return range;
}

} // namespace

ReplyVerdict ReplyVerdict::judge(const Headers &headers, qint64 offset, qint64 partLength, qint64 announcedSize)
{
    ReplyVerdict verdict;
    const qint64 announced = announcedSize > 0 ? announcedSize : -1;
    verdict.limit = announced;
    const auto tighten = [&verdict](qint64 size) {
        if (size >= 0 && (verdict.limit < 0 || size < verdict.limit))
            verdict.limit = size;
    };
    const auto decide = [&verdict](Action action) {
        verdict.action = action;
        return verdict;
    };
    // An answer that does not continue the part file: whatever the part file
    // holds cannot be trusted to belong to the file any longer.
    const Action startAgain = partLength > 0 ? Refetch : Reject;
    const ContentRange range = parseContentRange(headers.contentRange);

    switch (headers.status) {
    case 200:
        verdict.total = headers.contentLength;
        tighten(headers.contentLength);
        if (announced >= 0 && headers.contentLength > announced)
            return decide(TooLarge);
        return decide(partLength > 0 ? StartOver : Append);
    case 206:
        if (!range.valid || range.start != offset || offset != partLength)
            return decide(startAgain);
        // A resumed part of a file of another size than the announced one
        // may be a piece of an older image under the same name.
        if (offset > 0 && announced >= 0 && (offset > announced || (range.total >= 0 && range.total != announced)))
            return decide(Refetch);
        // A body that would end past the largest offset a file can have
        // is larger than any file may be, whatever was announced.
        if (headers.contentLength > std::numeric_limits<qint64>::max() - offset)
            return decide(TooLarge);
        verdict.total = range.total;
        tighten(range.total);
        if (headers.contentLength >= 0)
            tighten(offset + headers.contentLength);
        if (announced >= 0
            && (range.total > announced || (headers.contentLength >= 0 && offset + headers.contentLength > announced)))
            return decide(TooLarge);
        return decide(Append);
    case 416:
        // Asked for the bytes after the end of the part file: the server's
        // total says whether the part file is the whole file.
        if (range.valid && range.total > 0 && range.total == partLength && offset == partLength
            && (announced < 0 || range.total == announced)) {
            verdict.total = range.total;
            verdict.limit = range.total;
            return decide(Complete);
        }
        return decide(startAgain);
    default:
        return decide(Reject);
    }
}
