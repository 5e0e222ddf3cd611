// The catalogue feed as it arrives from the network: arbitrary bytes read by
// the feed parser, then handed to the catalogue as the body of a feed reply,
// twice (a later reply merges into what the first one built), then everything
// the pages read of the result, under every filter they can set.

#include "feedentry.h"
#include "fuzzsupport.h"
#include "release.h"
#include "releasearchitecture.h"
#include "releaselistmodel.h"
#include "releasemanager.h"
#include "releasevariant.h"
#include "releaseversion.h"

#include <QAbstractItemModelTester>
#include <QMetaProperty>
#include <QUrl>

#include <cstddef>
#include <cstdint>

namespace {

// What the parser promises of every entry, whatever the bytes.
void checkEntries(const QByteArray &bytes)
{
    QString error;
    const QList<FeedEntry> entries = FeedEntry::parse(bytes, &error);
    FuzzSupport::expect(error.isEmpty() || entries.isEmpty(), "entries from a document that is no feed");
    for (qsizetype i = 0; i < entries.size(); ++i) {
        const FeedEntry &entry = entries.at(i);
        FuzzSupport::expect(!entry.architecture.isEmpty() && !entry.url.isEmpty() && !entry.subvariantKey.isEmpty()
                                && entry.subvariantKey == entry.subvariant.toLower()
                                && (i == 0 || entries.at(i - 1).subvariantKey >= entry.subvariantKey) && entry.size >= 0
                                && entry.versionNumber >= 0,
                            "an entry without subvariant, architecture or link, out of order, or negative");
        const QString scheme = QUrl(entry.url, QUrl::TolerantMode).scheme().toLower();
        FuzzSupport::expect(
            entry.image() != FeedEntry::Image::Accepted
                || (ReleaseArchitecture::isKnown(entry.architecture)
                    && (scheme == QLatin1String("https") || (scheme == QLatin1String("http") && !entry.md5.isEmpty()))),
            "an image taken of an unknown architecture, or from neither https nor http with an md5");
    }
}

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
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    checkEntries(bytes);
    const QString text = QString::fromUtf8(bytes);

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
