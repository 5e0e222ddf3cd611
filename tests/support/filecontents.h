#pragma once

#include <QByteArray>
#include <QIODevice>
#include <QString>
#include <QStringList>

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

} // namespace FileContents
