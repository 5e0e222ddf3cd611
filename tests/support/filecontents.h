#pragma once

#include <QByteArray>
#include <QIODevice>
#include <QString>
#include <QList>
#include <QStringList>

#include <utility>

// Whole files in one call, for tests that lay out or inspect files.
namespace FileContents {

// Replaces the file with the data (or appends it, with QIODevice::Append);
// false when it cannot be written in full.
bool write(const QString &path, const QByteArray &data, QIODevice::OpenMode mode = QIODevice::Truncate);
// The whole file, or nothing when it cannot be opened.
QByteArray read(const QString &path);
// Pseudo-random bytes, the same for the same seed.
QByteArray random(qint64 size, quint32 seed);
// The MD5 of the file in lower-case hex, or nothing when it cannot be read.
QString md5(const QString &path);
// The data compressed by the xz tool (with its options); nothing when xz is
// missing or fails.
QByteArray xz(const QByteArray &data, const QStringList &options = {});
// Replaces the file with the data compressed by xz; false when xz fails.
bool writeXz(const QString &path, const QByteArray &data, const QStringList &options = {});
// The file decompressed by xz; nothing when xz fails.
QByteArray readXz(const QString &path);
// The same with another compressor that takes -c and -q as xz does: gzip,
// bzip2, zstd.
bool writeCompressed(const QString &path, const QString &program, const QByteArray &data,
                     const QStringList &options = {});
// Replaces the file with a zip archive made by the zip tool (with its
// options) of the files given as name and content, in that order; a name
// ending in '/' is a folder. False when zip is missing or fails.
bool writeZip(const QString &path, const QList<std::pair<QString, QByteArray>> &files,
              const QStringList &options = {});

} // namespace FileContents
