#pragma once

#include <QByteArray>
#include <QCryptographicHash>
#include <QRandomGenerator>
#include <QString>

// Reproducible file contents for the download tests.
namespace TestFiles {

inline QByteArray randomBytes(qsizetype size, quint32 seed)
{
    QRandomGenerator generator(seed);
    QByteArray data(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        data[i] = char(generator.generate() & 0xff);
    return data;
}

inline QString md5(const QByteArray &data)
{
    return QString::fromLatin1(QCryptographicHash::hash(data, QCryptographicHash::Md5).toHex());
}

} // namespace TestFiles
