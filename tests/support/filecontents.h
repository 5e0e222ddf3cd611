#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// Whole files in one call, for tests that lay out or inspect files.
namespace FileContents {

// Replaces the file with the data; false when it cannot be written in full.
bool write(const QString &path, const QByteArray &data);
// The whole file, or nothing when it cannot be opened.
QByteArray read(const QString &path);
// Replaces the file with the data compressed by the xz tool (with its
// options); false when xz is missing or fails.
bool writeXz(const QString &path, const QByteArray &data, const QStringList &options = {});

} // namespace FileContents
