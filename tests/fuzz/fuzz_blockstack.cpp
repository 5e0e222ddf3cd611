// The walk down a block device's stack over a generated sysfs tree. Input,
// one a line: the device to start from, then entries of the tests' SysfsTree
// ("dm-0/slaves/sdb2" a folder, "loop0/loop/backing_file=/srv/x.img" a file
// with that content). Names may repeat, point back up the stack or at
// nothing, and folders may stand where files belong and back.
//
// The walk must end, name the device first and each device once, reach no
// device that is no entry under the slaves of one before it, and give each
// backing file once, as a loop device's file says it.

#include "fuzzsupport.h"
#include "blockstack.h"
#include "filecontents.h"
#include "sysfstree.h"

#include <QFileInfo>
#include <QSet>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    FuzzSupport::startApplication("fuzz_blockstack");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size)
{
    QStringList lines = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size)).split(QLatin1Char('\n'));
    const QString device = lines.takeFirst();
    // Entries stay inside the tree, and a tree stays small.
    if (lines.size() > 64 || device.contains(QLatin1Char('/')) || device.contains(QChar(0))
        || device == QLatin1String("..") || device == QLatin1String("."))
        return 0;
    for (const QString &line : lines) {
        const QString path = line.section(QLatin1Char('='), 0, 0);
        if (path.contains(QChar(0)) || path.split(QLatin1Char('/')).contains(QLatin1String("..")))
            return 0;
    }
    SysfsTree tree;
    if (!tree.add(lines))
        return 0;

    const BlockStack stack = BlockStack::of(tree.root(), device);
    const QString block = tree.root() + QStringLiteral("/class/block/");
    FuzzSupport::expect(device.isEmpty() ? stack.devices.isEmpty() : stack.devices.value(0) == device,
                        "the device itself comes first");
    FuzzSupport::expect(stack.devices.size() == QSet<QString>(stack.devices.begin(), stack.devices.end()).size(),
                        "each device once");
    for (qsizetype i = 1; i < stack.devices.size(); ++i) {
        bool below = false;
        for (qsizetype j = 0; j < i && !below; ++j)
            below = QFileInfo::exists(block + stack.devices.at(j) + QStringLiteral("/slaves/") + stack.devices.at(i));
        FuzzSupport::expect(below, "each device lies below one before it");
    }
    FuzzSupport::expect(stack.backingFiles.size() == QSet<QString>(stack.backingFiles.begin(), stack.backingFiles.end()).size(),
                        "each backing file once");
    for (const QString &file : stack.backingFiles) {
        bool named = false;
        for (const QString &name : stack.devices) {
            const QString text = QString::fromUtf8(FileContents::read(block + name + QStringLiteral("/loop/backing_file"))).trimmed();
            named = named || text == file || text == file + QLatin1String(" (deleted)");
        }
        FuzzSupport::expect(!file.isEmpty() && named, "a backing file as a loop device of the stack gives it");
    }
    return 0;
}
