#pragma once

#include "filecontents.h"

#include <QDir>
#include <QFileInfo>
#include <QStringList>
#include <QTemporaryDir>

// A tree of files standing in for /sys, for the walk through block device
// stacks. Each entry is a path under class/block: "dm-0/slaves/sdb2" makes a
// folder, "loop0/loop/backing_file=/srv/root.img" a file with that content.
class SysfsTree
{
public:
    [[nodiscard]] QString root() const { return m_dir.path(); }

    bool add(const QStringList &entries)
    {
        for (const QString &entry : entries) {
            const qsizetype equals = entry.indexOf(QLatin1Char('='));
            const QString path = m_dir.filePath(QStringLiteral("class/block/") + entry.left(equals));
            const bool made = equals < 0 ? QDir().mkpath(path)
                                         : QDir().mkpath(QFileInfo(path).path())
                    && FileContents::write(path, entry.mid(equals + 1).toUtf8() + '\n');
            if (!made)
                return false;
        }
        return m_dir.isValid();
    }

private:
    QTemporaryDir m_dir;
};
