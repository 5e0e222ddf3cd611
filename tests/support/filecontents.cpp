#include "filecontents.h"

#include <QFile>
#include <QProcess>

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
    QProcess xz;
    xz.setStandardOutputFile(path, QIODevice::Truncate);
    xz.start(QStringLiteral("xz"), QStringList { QStringLiteral("-c"), QStringLiteral("-q") } + options);
    if (!xz.waitForStarted())
        return false;
    xz.write(data);
    xz.closeWriteChannel();
    return xz.waitForFinished(60000) && xz.exitStatus() == QProcess::NormalExit && xz.exitCode() == 0;
}

} // namespace FileContents
