#pragma once

#include "appinfo.h"

#include <QList>
#include <QString>

// What an installation holds, relative to its prefix: the same for
// `cmake --install` and for the Debian package under /usr.
namespace InstallLayout {

struct File
{
    QString path;
    bool executable = false;
};

inline const QList<int> &iconSizes()
{
    static const QList<int> sizes { 16, 22, 24, 32, 48, 64, 128, 256 };
    return sizes;
}

// The manual as installed; the package compresses it.
inline QList<File> files(const QString &manual = QStringLiteral("share/man/man1/flashwright.1"))
{
    const QString id = AppInfo::applicationId;
    QList<File> files { { QStringLiteral("bin/flashwright"), true },
                        { QStringLiteral("libexec/flashwright/helper"), true },
                        { QStringLiteral("share/applications/%1.desktop").arg(id) },
                        { QStringLiteral("share/metainfo/%1.metainfo.xml").arg(id) },
                        { manual },
                        { QStringLiteral("share/icons/hicolor/scalable/apps/%1.svg").arg(id) } };
    for (int size : iconSizes())
        files.append({ QStringLiteral("share/icons/hicolor/%1x%1/apps/%2.png").arg(size).arg(id) });
    return files;
}

} // namespace InstallLayout
