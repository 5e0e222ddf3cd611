#include "isoimage.h"

#include "programrun.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>

namespace IsoImage {

QString missingTools()
{
    QStringList missing;
    for (const QString &tool :
         { QStringLiteral("xorriso"), QStringLiteral("implantisomd5"), QStringLiteral("checkisomd5") }) {
        if (QStandardPaths::findExecutable(tool).isEmpty())
            missing << tool;
    }
    return missing.join(QLatin1Char(' '));
}

bool make(const QString &path, qint64 dataBytes, quint32 seed)
{
    QTemporaryDir tree(QFileInfo(path).absolutePath() + QStringLiteral("/tree-XXXXXX"));
    if (!tree.isValid())
        return false;
    QFile data(tree.filePath(QStringLiteral("data.bin")));
    if (!data.open(QIODevice::WriteOnly))
        return false;
    QRandomGenerator random(seed);
    QByteArray block(1 << 16, Qt::Uninitialized);
    for (qint64 written = 0; written < dataBytes; written += block.size()) {
        random.fillRange(reinterpret_cast<quint32 *>(block.data()), block.size() / 4);
        const qint64 length = qMin<qint64>(block.size(), dataBytes - written);
        if (data.write(block.constData(), length) != length)
            return false;
    }
    data.close();
    QFile::remove(path);
    return ProgramRun(QStringLiteral("xorriso"),
                      { QStringLiteral("-as"), QStringLiteral("mkisofs"), QStringLiteral("-quiet"),
                        QStringLiteral("-o"), path, tree.path() })
        .run()
        .succeeded();
}

bool implant(const QString &path)
{
    return ProgramRun(QStringLiteral("implantisomd5"), { QStringLiteral("--force"), path }).run().succeeded();
}

Verdict referenceVerdict(const QString &path)
{
    const ProgramResult result
        = ProgramRun(QStringLiteral("checkisomd5"), { path }).timeout(30000).mergeChannels().run();
    if (!result.ended)
        return Hung;
    if (result.succeeded())
        return Pass;
    const QByteArray &output = result.standardOutput;
    if (output.contains("No checksum information"))
        return NoInfo;
    if (output.contains("File not found"))
        return NotFound;
    if (output.contains("result is: FAIL"))
        return Fail;
    return Unknown;
}

QByteArray read(const QString &path, qint64 offset, qint64 size)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || !file.seek(offset))
        return {};
    return file.read(size);
}

bool write(const QString &path, qint64 offset, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::ReadWrite) && file.seek(offset) && file.write(bytes) == bytes.size();
}

bool flipByte(const QString &path, qint64 offset)
{
    QByteArray byte = read(path, offset, 1);
    if (byte.size() != 1)
        return false;
    byte[0] = static_cast<char>(byte[0] ^ 0x5a);
    return write(path, offset, byte);
}

bool truncate(const QString &path, qint64 size)
{
    return QFile::resize(path, size);
}

qint64 volumeSize(const QString &path)
{
    const QByteArray field = read(path, DescriptorOffset + 84, 4);
    if (field.size() != 4)
        return -1;
    const auto *b = reinterpret_cast<const uchar *>(field.constData());
    return ((qint64(b[0]) << 24) | (b[1] << 16) | (b[2] << 8) | b[3]) * SectorSize;
}

bool setVolumeSectors(const QString &path, qint64 sectors)
{
    QByteArray both(8, '\0');
    for (int i = 0; i < 4; ++i) {
        both[i] = static_cast<char>(sectors >> (8 * i));
        both[7 - i] = static_cast<char>(sectors >> (8 * i));
    }
    return write(path, DescriptorOffset + 80, both) && QFile::resize(path, sectors * SectorSize);
}

QByteArray appData(const QString &path)
{
    QByteArray text = read(path, AppDataOffset, AppDataSize);
    while (text.endsWith(' '))
        text.chop(1);
    return text;
}

bool setAppData(const QString &path, const QByteArray &text)
{
    if (text.size() > AppDataSize)
        return false;
    return write(path, AppDataOffset, text + QByteArray(AppDataSize - text.size(), ' '));
}

} // namespace IsoImage
