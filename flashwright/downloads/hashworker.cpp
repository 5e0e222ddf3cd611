#include "hashworker.h"

#include "hex.h"
#include "isovolume.h"

#include <algorithm>
#include <cstring>

namespace {
// The descriptor set starts at 32 KiB; the primary descriptor is its first
// member in every image seen, so it is usually there once 64 KiB arrived.
constexpr qsizetype FirstProbe = 65536;
} // namespace

HashWorker::HashWorker()
    : m_md5Worker(std::size_t(MaxPending),
                  [this](QByteArray &chunk) {
                      m_md5.update(chunk.constData(), std::size_t(chunk.size()));
                      return true;
                  })
    , m_implantedWorker(std::size_t(MaxPending), [this](QByteArray &chunk) {
        m_implanted.add(chunk);
        return true;
    })
{
    m_implanted.nextProbe = FirstProbe;
}

void HashWorker::add(const QByteArray &chunk)
{
    if (chunk.isEmpty())
        return;
    m_md5Worker.push(chunk, std::size_t(chunk.size()));
    m_implantedWorker.push(chunk, std::size_t(chunk.size()));
}

void HashWorker::reset()
{
    m_md5Worker.waitUntilIdle();
    m_implantedWorker.waitUntilIdle();
    m_md5 = Md5();
    m_implanted = Implanted();
    m_implanted.nextProbe = FirstProbe;
}

QByteArray HashWorker::result()
{
    m_md5Worker.waitUntilIdle();
    return QByteArray::fromStdString(toHex(m_md5.result()));
}

ImplantedChecksum::Result HashWorker::implantedResult()
{
    m_implantedWorker.waitUntilIdle();
    // A copy: taking the verdict does not end the stream.
    Implanted now = m_implanted;
    if (!now.started)
        now.probe(true);
    return now.checksum.finish();
}

void HashWorker::Implanted::add(const QByteArray &chunk)
{
    if (started) {
        if (checksum.wantsMore())
            checksum.update(chunk.constData(), std::size_t(chunk.size()));
        return;
    }
    head.append(chunk);
    if (head.size() >= nextProbe)
        probe(false);
}

void HashWorker::Implanted::probe(bool final)
{
    // The same search as over a file, which must not tell "the head ends
    // here" from "the image ends here" while more of the image may come.
    bool ranOut = false;
    const QByteArray &bytes = head;
    IsoVolume volume;
    const bool found = IsoVolume::find(
        [&bytes, &ranOut](void *buffer, std::size_t wanted, long long offset) -> long long {
            const long long available = std::max(0LL, (long long)bytes.size() - offset);
            const long long count = std::min((long long)wanted, available);
            if (count < (long long)wanted)
                ranOut = true;
            if (count > 0)
                std::memcpy(buffer, bytes.constData() + offset, std::size_t(count));
            return count;
        },
        volume);
    if (!found && ranOut && !final) {
        // A long descriptor set: look again once the head has doubled.
        nextProbe = head.size() * 2;
        return;
    }
    started = true;
    if (found && checksum.start(volume))
        checksum.update(head.constData(), std::size_t(head.size()));
    head = QByteArray();
}
