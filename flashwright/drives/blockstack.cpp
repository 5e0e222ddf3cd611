#include "blockstack.h"

#include <QDir>
#include <QFile>

namespace {
// Stacks are a few layers deep; a tree that goes on further is broken.
constexpr int maximumDevices = 256;
} // namespace

BlockStack BlockStack::of(const QString &sysfsRoot, const QString &device)
{
    BlockStack stack;
    QStringList pending { device };
    while (!pending.isEmpty() && stack.devices.size() < maximumDevices) {
        const QString name = pending.takeFirst();
        if (name.isEmpty() || stack.devices.contains(name))
            continue;
        stack.devices.append(name);
        const QString folder = sysfsRoot + QStringLiteral("/class/block/") + name;

        QFile backing(folder + QStringLiteral("/loop/backing_file"));
        if (backing.open(QIODevice::ReadOnly)) {
            QString file = QString::fromUtf8(backing.readAll()).trimmed();
            if (file.endsWith(QLatin1String(" (deleted)")))
                file.chop(10);
            if (!file.isEmpty() && !stack.backingFiles.contains(file))
                stack.backingFiles.append(file);
        }
        pending.append(QDir(folder + QStringLiteral("/slaves"))
                           .entryList(QDir::Dirs | QDir::Files | QDir::System | QDir::NoDotAndDotDot, QDir::Name));
    }
    return stack;
}
