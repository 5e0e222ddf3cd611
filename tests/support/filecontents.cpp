#include "filecontents.h"

#include "programrun.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>

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
    return writeCompressed(path, QStringLiteral("xz"), data, options);
}

QByteArray readXz(const QString &path)
{
    const ProgramResult result = ProgramRun(QStringLiteral("xz"), { QStringLiteral("-dc"), path }).run();
    return result.succeeded() ? result.standardOutput : QByteArray();
}

bool writeCompressed(const QString &path, const QString &program, const QByteArray &data, const QStringList &options)
{
    const ProgramResult result
        = ProgramRun(program, QStringList { QStringLiteral("-c"), QStringLiteral("-q") } + options)
              .input(data)
              .outputFile(path)
              .run();
    return result.succeeded();
}

bool writeZip(const QString &path, const QList<std::pair<QString, QByteArray>> &files, const QStringList &options)
{
    QTemporaryDir tree;
    if (!tree.isValid())
        return false;
    QStringList names;
    for (const auto &[name, content] : files) {
        const QString filePath = tree.filePath(name);
        if (name.endsWith(QLatin1Char('/')) ? !QDir().mkpath(filePath)
                                            : !QDir().mkpath(QFileInfo(filePath).path()) || !write(filePath, content))
            return false;
        names << name;
    }
    // Made beside the files under a name of zip's liking (it adds ".zip" to
    // one without a suffix), then moved into place.
    const QString archive = tree.filePath(QStringLiteral("archive.zip"));
    QProcess zip;
    zip.setWorkingDirectory(tree.path());
    // Without -r, a folder named becomes an entry of its own and nothing more.
    zip.start(QStringLiteral("zip"), QStringList { QStringLiteral("-q") } + options + QStringList { archive } + names);
    if (!ProgramRun::finish(zip, 60000).succeeded())
        return false;
    QFile::remove(path);
    return QFile::rename(archive, path);
}

} // namespace FileContents
