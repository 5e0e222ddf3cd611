#pragma once

#include <QByteArray>
#include <QString>

// ISO images for tests, made and judged by the system's own tools: xorriso
// builds them, implantisomd5 implants the checksum, checkisomd5 gives the
// reference verdict.
namespace IsoImage {

// Where the primary volume descriptor of a xorriso image sits, and its
// application-use area, which holds the implanted checksum.
constexpr qint64 DescriptorOffset = 32768;
constexpr qint64 AppDataOffset = DescriptorOffset + 883;
constexpr int AppDataSize = 512;
constexpr qint64 SectorSize = 2048;
constexpr qint64 SkippedBytes = 15 * SectorSize;

// Verdicts of checkisomd5, numbered like the reader's results.
enum Verdict { NotFound = -2, NoInfo = -1, Fail = 0, Pass = 1, Hung = -100, Unknown = -101 };

// Empty when every tool is there, otherwise the names of the missing ones.
QString missingTools();

// Makes an ISO holding one file of pseudo-random bytes (deterministic per seed).
bool make(const QString &path, qint64 dataBytes, quint32 seed = 1);
bool implant(const QString &path);
// The reference verdict; Hung when checkisomd5 does not finish (it spins on
// files that end before the volume descriptors end).
Verdict referenceVerdict(const QString &path);

qint64 volumeSize(const QString &path);
// Rewrites the volume size fields and resizes the file to match.
bool setVolumeSectors(const QString &path, qint64 sectors);
QByteArray read(const QString &path, qint64 offset, qint64 size);
bool write(const QString &path, qint64 offset, const QByteArray &bytes);
bool flipByte(const QString &path, qint64 offset);
bool truncate(const QString &path, qint64 size);
// The application-use area as text (trailing spaces dropped), and its
// replacement (padded with spaces).
QByteArray appData(const QString &path);
bool setAppData(const QString &path, const QByteArray &text);

} // namespace IsoImage
