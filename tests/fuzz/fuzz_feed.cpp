// The catalogue feed as it arrives from the network: arbitrary bytes handed
// to the catalogue as the body of a feed reply, twice (a later reply merges
// into what the first one built), then everything the pages read of the
// result, under every filter they can set.

#include "fuzzsupport.h"
#include "release.h"
#include "releasearchitecture.h"
#include "releaselistmodel.h"
#include "releasemanager.h"
#include "releasevariant.h"
#include "releaseversion.h"

#include <QAbstractItemModelTester>
#include <QMetaProperty>

#include <cstddef>
#include <cstdint>

namespace {

// Reads every property, as the Qt Quick bindings do.
void readAll(const QObject *object)
{
    const QMetaObject *meta = object->metaObject();
    for (int i = meta->propertyOffset(); i < meta->propertyCount(); ++i)
        (void)meta->property(i).read(object);
}

// What the image list shows under the current filter.
void readFiltered(ReleaseManager &manager)
{
    readAll(&manager);
    const QHash<int, QByteArray> roles = manager.roleNames();
    for (int row = 0; row < manager.rowCount(); ++row) {
        for (auto role = roles.cbegin(); role != roles.cend(); ++role)
            (void)manager.data(manager.index(row, 0), role.key());
    }
}

void readTree(ReleaseManager &manager)
{
    for (int row = 0; row < manager.releaseList()->rowCount(); ++row) {
        Release *release = manager.get(row);
        if (!release)
            qFatal("row %d of the catalogue has no release", row);
        readAll(release);
        (void)release->editionString();
        (void)release->sourceString();
        for (ReleaseVersion *version : release->versionList()) {
            readAll(version);
            for (ReleaseVariant *variant : version->variantList()) {
                readAll(variant);
                (void)variant->fullName();
            }
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    FuzzSupport::startApplication("fuzz_feed");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));

    ReleaseManager manager;
    QAbstractItemModelTester sourceTester(manager.releaseList(), QAbstractItemModelTester::FailureReportingMode::Fatal);
    QAbstractItemModelTester tester(&manager, QAbstractItemModelTester::FailureReportingMode::Fatal);

    manager.onStringDownloaded(text);
    manager.onStringDownloaded(text);

    for (int source = 0; source <= 3; ++source) {
        for (int edition = 0; edition <= 4; ++edition) {
            manager.filterEditionAndSource(edition, source);
            (void)manager.hasEdition(edition);
            for (ReleaseArchitecture *architecture : manager.availableArchitectures())
                manager.setFilterArchitecture(architecture->index());
            if (manager.rowCount() > 0)
                manager.setSelectedIndex(manager.data(manager.index(0, 0), ReleaseListModel::SourceIndexRole).toInt());
            readFiltered(manager);
        }
    }
    readTree(manager);
    return 0;
}
