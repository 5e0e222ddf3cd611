#include "testimages.h"

#include <QFile>
#include <QList>

#include <unistd.h>

QByteArray TestImages::pattern(qint64 size)
{
    QByteArray data(size, Qt::Uninitialized);
    for (qint64 i = 0; i < size; ++i)
        data[i] = char((i / 7) % 251);
    return data;
}

QByteArray TestImages::padded(const QByteArray &image)
{
    const qint64 size = (image.size() + 511) / 512 * 512;
    return image + QByteArray(size - image.size(), '\0');
}

QByteArray TestImages::isoStart(qint64 volumeSize)
{
    constexpr qint64 sector = 2048;
    QByteArray primary(sector, '\0');
    primary[0] = '\1';
    primary.replace(1, 6, QByteArray("CD001\1", 6));
    // Sectors both ways round: little-endian at 80, big-endian at 84.
    const auto sectors = quint32(volumeSize / sector);
    for (int i = 0; i < 4; ++i) {
        primary[80 + i] = char(sectors >> (8 * i));
        primary[87 - i] = char(sectors >> (8 * i));
    }
    QByteArray terminator(sector, '\0');
    terminator[0] = '\xff';
    terminator.replace(1, 6, QByteArray("CD001\1", 6));
    return QByteArray(16 * sector, '\0') + primary + terminator;
}

qint64 TestImages::bufferSize()
{
    return qint64(getpagesize()) * 1024;
}

QList<QByteArray> TestImages::readBackOffsets(qint64 size)
{
    constexpr qint64 chunk = 4 << 20;
    QList<QByteArray> offsets;
    for (qint64 done = 0; done < size;) {
        done = qMin(done + chunk, size);
        offsets.append(QByteArray::number(done));
    }
    return offsets;
}
