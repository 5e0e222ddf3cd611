#pragma once

#include "boundedworker.h"
#include "implantedchecksum.h"
#include "md5.h"

#include <QByteArray>

#include <optional>

// The digests of a stream of chunks, computed on threads of their own so that
// the download goes on receiving and writing while they catch up: the MD5 of
// everything, and the MD5 checksum implanted in an ISO image when the stream
// is one (its primary volume descriptor arrives in the first 64 KiB). Both
// verdicts are ready when the stream ends, without reading the file again.
// Chunks are hashed in the order they are added. At most MaxPending bytes
// wait for each digest: add() blocks until there is room, which bounds the
// memory and costs the caller no longer than a worker needs for that much
// data (a few milliseconds). The chunks are shared, not copied.
class HashWorker
{
public:
    static constexpr qsizetype MaxPending = 4 << 20;

    HashWorker();
    HashWorker(const HashWorker &) = delete;
    HashWorker &operator=(const HashWorker &) = delete;

    void add(const QByteArray &chunk);
    // Once everything added is hashed, starts both digests afresh.
    void reset();
    // Once everything added is hashed: its digest in lower-case hexadecimal.
    [[nodiscard]] QByteArray result();
    // Once everything added is hashed: the verdict of the implanted checksum
    // on it (NoChecksum for anything but an ISO image that carries one).
    [[nodiscard]] ImplantedChecksum::Result implantedResult();

private:
    // Where the stream's implanted checksum stands, on its worker's thread.
    struct Implanted
    {
        // The start of the stream while it does not yet tell whether it is
        // an ISO image with a checksum.
        QByteArray head;
        qsizetype nextProbe = 0;
        bool started = false;
        ImplantedChecksum checksum;

        void add(const QByteArray &chunk);
        // Looks for the volume in the head; with final, what there is is all there is.
        void probe(bool final);
    };

    Md5 m_md5;
    Implanted m_implanted;
    // Last, so that they stop before what they feed goes.
    BoundedWorker<QByteArray> m_md5Worker;
    BoundedWorker<QByteArray> m_implantedWorker;
};
