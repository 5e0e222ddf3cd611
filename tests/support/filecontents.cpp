#include "filecontents.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

namespace FileContents {

bool write(const QString &path, const QByteArray &data)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(data) == data.size();
}

QByteArray read(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeXz(const QString &path, const QByteArray &data, const QStringList &options)
{
    return writeCompressed(path, QStringLiteral("xz"), data, options);
}

bool writeCompressed(const QString &path, const QString &program, const QByteArray &data, const QStringList &options)
{
    QProcess process;
    process.setStandardOutputFile(path, QIODevice::Truncate);
    process.start(program, QStringList { QStringLiteral("-c"), QStringLiteral("-q") } + options);
    if (!process.waitForStarted())
        return false;
    process.write(data);
    process.closeWriteChannel();
    return process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
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
    if (!zip.waitForFinished(60000) || zip.exitStatus() != QProcess::NormalExit || zip.exitCode() != 0)
        return false;
    QFile::remove(path);
    return QFile::rename(archive, path);
}

} // namespace FileContents
