#include "filecontents.h"

#include "programrun.h"

#include <QCryptographicHash>
#include <QFile>
#include <QList>
#include <QRandomGenerator>

namespace FileContents {

bool write(const QString &path, const QByteArray &data, QIODevice::OpenMode mode)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | mode) && file.write(data) == data.size();
}

QByteArray read(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray random(qint64 size, quint32 seed)
{
    QList<quint32> words((size + 3) / 4);
    QRandomGenerator(seed).fillRange(words.data(), words.size());
    return QByteArray(reinterpret_cast<const char *>(words.constData()), size);
}

QString md5(const QString &path)
{
    QFile file(path);
    QCryptographicHash hash(QCryptographicHash::Md5);
    if (!file.open(QIODevice::ReadOnly) || !hash.addData(&file))
        return {};
    return QString::fromLatin1(hash.result().toHex());
}

QByteArray xz(const QByteArray &data, const QStringList &options)
{
    const ProgramResult result
        = ProgramRun(QStringLiteral("xz"), QStringList { QStringLiteral("-c"), QStringLiteral("-q") } + options)
              .input(data)
              .run();
    return result.succeeded() ? result.standardOutput : QByteArray();
}

bool writeXz(const QString &path, const QByteArray &data, const QStringList &options)
{
    const QByteArray compressed = xz(data, options);
    return !compressed.isEmpty() && write(path, compressed);
}

QByteArray readXz(const QString &path)
{
    const ProgramResult result = ProgramRun(QStringLiteral("xz"), { QStringLiteral("-dc"), path }).run();
    return result.succeeded() ? result.standardOutput : QByteArray();
}

} // namespace FileContents
