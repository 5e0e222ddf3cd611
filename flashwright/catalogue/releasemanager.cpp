#include "releasemanager.h"

#include "downloadmanager.h"
#include "feedentry.h"
#include "messagehandler.h"
#include "options.h"
#include "progress.h"
#include "release.h"
#include "releasearchitecture.h"
#include "releaselistmodel.h"
#include "releasevariant.h"
#include "releaseversion.h"

#include <QQmlEngine>
#include <QTimer>

#include <algorithm>

namespace {

void registerQmlTypes()
{
    // Once per process: every manager (tests make several) needs the types,
    // and registering them twice would list them twice.
    static const bool registered = []() {
        const QString reason;
        qmlRegisterUncreatableType<Release>("Flashwright", 1, 0, "Release", reason);
        qmlRegisterUncreatableType<ReleaseVersion>("Flashwright", 1, 0, "Version", reason);
        qmlRegisterUncreatableType<ReleaseVariant>("Flashwright", 1, 0, "Variant", reason);
        qmlRegisterUncreatableType<ReleaseArchitecture>("Flashwright", 1, 0, "Architecture", reason);
        qmlRegisterUncreatableType<Progress>("Flashwright", 1, 0, "Progress", reason);
        // The table entries have no parent; the engine must never collect them.
        const QList<ReleaseArchitecture *> architectures = ReleaseArchitecture::listAll();
        for (ReleaseArchitecture *architecture : architectures)
            QQmlEngine::setObjectOwnership(architecture, QQmlEngine::CppOwnership);
        return true;
    }();
    Q_UNUSED(registered)
}

} // namespace

ReleaseManager::ReleaseManager(QObject *parent)
    : QSortFilterProxyModel(parent)
{
    m_list = new ReleaseListModel(this);
    m_filterArchitecture = ReleaseArchitecture::fromAbbreviation(QStringLiteral("x86_64"))->index();

    qCDebug(MessageHandler::category) << metaObject()->className() << "construction";
    setSourceModel(m_list);
    registerQmlTypes();

    connect(m_list, &ReleaseListModel::appendToModelFinished, this, &ReleaseManager::onAppendToModelFinished,
            Qt::DirectConnection);
    connect(this, &ReleaseManager::selectedChanged, this, &ReleaseManager::variantChangedFilter);

    QTimer::singleShot(0, this, &ReleaseManager::fetchReleases);

    m_retryTimer = new QTimer(this);
    m_retryTimer->setSingleShot(true);
    m_retryTimer->setInterval(RetryInterval);
    connect(m_retryTimer, &QTimer::timeout, this, &ReleaseManager::fetchReleases);

    m_fetchTimer = new QTimer(this);
    connect(m_fetchTimer, &QTimer::timeout, this, &ReleaseManager::onReleaseFetchTimerEvent);
    m_fetchTimer->start(FetchInterval);
}

// Page fetches report to this object: it lives until the program ends, and
// whoever destroys one earlier must let its fetches finish first.
ReleaseManager::~ReleaseManager() = default;

int ReleaseManager::fetchInterval() const
{
    return m_fetchTimer->interval();
}

void ReleaseManager::setFetchInterval(int milliseconds)
{
    m_fetchTimer->setInterval(milliseconds);
}

int ReleaseManager::retryInterval() const
{
    return m_retryTimer->interval();
}

void ReleaseManager::setRetryInterval(int milliseconds)
{
    m_retryTimer->setInterval(milliseconds);
}

void ReleaseManager::fetchReleases()
{
    m_beingUpdated = true;
    emit beingUpdatedChanged();
    DownloadManager::instance()->fetchPageAsync(this, options.releasesUrl);
}

void ReleaseManager::onReleaseFetchTimerEvent()
{
    if (m_list->rowCount() > 1) {
        qCDebug(MessageHandler::category)
            << metaObject()->className() << "Metadata already exists with count - " << m_list->rowCount();
        m_fetchTimer->stop();
        return;
    }
    qCDebug(MessageHandler::category) << metaObject()->className() << "Retry to fetch metadata";
    fetchReleases();
}

void ReleaseManager::onDownloadError(const QString &message)
{
    qCWarning(MessageHandler::category) << "Was not able to fetch new releases:" << message
                                        << "Retrying in 10 seconds.";
    // With a lasting fault every fetch fails: one pending retry is enough,
    // the fetch timer keeps trying besides.
    if (!m_retryTimer->isActive())
        m_retryTimer->start();
}

void ReleaseManager::onStringDownloaded(const QString &text)
{
    qCDebug(MessageHandler::category) << metaObject()->className() << "Received a metadata json";
    m_isReady = true;
    emit isReadyChanged();

    QString error;
    const QList<FeedEntry> entries = FeedEntry::parse(text.toUtf8(), &error);
    if (!error.isEmpty()) {
        qCWarning(MessageHandler::category)
            << metaObject()->className() << "The metadata is not a JSON array:" << error;
        return;
    }
    for (const FeedEntry &entry : entries)
        m_list->appendRelease(entry);

    m_beingUpdated = false;
    emit beingUpdatedChanged();
    emit availableArchitecturesChanged();
    catalogueChanged();
}

void ReleaseManager::onAppendToModelFinished(const FeedEntry &entry)
{
    updateUrl(entry.subvariantKey, entry.versionNumber, entry.versionStatus, QStringLiteral("live"), entry.releaseDate,
              entry.architecture, entry.url, entry.md5, entry.size);

    // During a reply this is done once, at its end.
    if (!m_beingUpdated) {
        emit availableArchitecturesChanged();
        catalogueChanged();
    }
}

bool ReleaseManager::updateUrl(const QString &subvariant, int number, const QString &status, const QString &type,
                               const QDateTime &releaseDate, const QString &architecture, const QString &url,
                               const QString &md5, qint64 size)
{
    switch (FeedEntry::checkImage(architecture, url, md5)) {
    case FeedEntry::Image::UnknownArchitecture:
        qCWarning(MessageHandler::category) << "Architecture" << architecture << "is not known!";
        return false;
    case FeedEntry::Image::NotWebAddress:
        qCWarning(MessageHandler::category) << "Url" << url << "is not an http or https address!";
        return false;
    case FeedEntry::Image::PlainHttpWithoutMd5:
        qCWarning(MessageHandler::category) << "Url" << url << "is plain http without an md5 to check it by!";
        return false;
    case FeedEntry::Image::Accepted:
        break;
    }
    Release *release = m_list->findSubvariant(subvariant);
    if (!release)
        return false;
    return release->updateUrl(number, status, type, releaseDate, architecture, url, md5, size);
}

void ReleaseManager::catalogueChanged()
{
    ensureValidFilterArchitecture();
    selectForFilterArchitecture();
    // Releases were inserted before their images arrived, so the filter
    // has to look at them again.
    invalidateFilter();
}

void ReleaseManager::selectForFilterArchitecture()
{
    const QList<Release *> releases = m_list->releases();
    for (Release *release : releases) {
        if (release->isLocal())
            continue;
        const QList<ReleaseVersion *> versions = release->versionList();
        int finalWithArchitecture = -1;
        int anyWithArchitecture = -1;
        for (int v = 0; v < versions.size(); ++v) {
            ReleaseVersion *version = versions.at(v);
            const QList<ReleaseVariant *> variants = version->variantList();
            for (int i = 0; i < variants.size(); ++i) {
                ReleaseArchitecture *arch = variants.at(i)->arch();
                if (arch && arch->index() == m_filterArchitecture) {
                    version->setSelectedVariantIndex(i);
                    if (anyWithArchitecture < 0)
                        anyWithArchitecture = v;
                    if (finalWithArchitecture < 0 && version->status() == ReleaseVersion::FINAL)
                        finalWithArchitecture = v;
                    break;
                }
            }
        }
        // Versions are sorted newest first.
        const int chosen = finalWithArchitecture >= 0 ? finalWithArchitecture : anyWithArchitecture;
        if (chosen >= 0)
            release->setSelectedVersionIndex(chosen);
    }
}

void ReleaseManager::setFrontPage(bool frontPage)
{
    if (m_frontPage == frontPage)
        return;
    m_frontPage = frontPage;
    emit frontPageChanged();
    invalidateFilter();
}

void ReleaseManager::setFilterText(const QString &text)
{
    if (m_filterText == text)
        return;
    m_filterText = text;
    emit filterTextChanged();
    invalidateFilter();
}

void ReleaseManager::setFilterArchitecture(int architecture)
{
    if (architecture == m_filterArchitecture || architecture < 0 || architecture >= ReleaseArchitecture::_ARCHCOUNT)
        return;
    m_filterArchitecture = architecture;
    emit filterArchitectureChanged();
    selectForFilterArchitecture();
    invalidateFilter();
}

void ReleaseManager::setFilterSource(int source)
{
    if (m_filterSource == source)
        return;
    m_filterSource = source;
    emit filterSourceChanged();
    emit firstSourceChanged();
    emit availableArchitecturesChanged();
    ensureValidFilterArchitecture();
    selectForFilterArchitecture();
    invalidateFilter();
}

void ReleaseManager::setFilterEdition(int edition)
{
    if (m_filterEdition == edition)
        return;
    m_filterEdition = edition;
    emit filterEditionChanged();
    emit firstEditionChanged();
    emit availableArchitecturesChanged();
    ensureValidFilterArchitecture();
    selectForFilterArchitecture();
    invalidateFilter();
}

void ReleaseManager::filterEditionAndSource(int edition, int source)
{
    bool changed = false;
    if (source != m_filterSource) {
        m_filterSource = source;
        emit filterSourceChanged();
        emit firstSourceChanged();
        changed = true;
    }
    if (edition != m_filterEdition) {
        m_filterEdition = edition;
        emit filterEditionChanged();
        emit firstEditionChanged();
        changed = true;
    }
    if (changed) {
        emit availableArchitecturesChanged();
        invalidateFilter();
    }
    ensureValidFilterArchitecture();
    if (changed)
        selectForFilterArchitecture();
}

Release *ReleaseManager::selected() const
{
    return m_list->get(m_selectedIndex);
}

void ReleaseManager::setSelectedIndex(int index)
{
    if (m_selectedIndex == index)
        return;
    m_selectedIndex = index;
    emit selectedChanged();
}

ReleaseVariant *ReleaseManager::variant() const
{
    Release *release = selected();
    ReleaseVersion *version = release ? release->selectedVersion() : nullptr;
    return version ? version->selectedVariant() : nullptr;
}

void ReleaseManager::variantChangedFilter()
{
    emit variantChanged();
}

QStringList ReleaseManager::architectures() const
{
    return ReleaseArchitecture::listAllDescriptions();
}

QList<ReleaseArchitecture *> ReleaseManager::availableArchitectures() const
{
    QList<ReleaseArchitecture *> result;
    const QList<Release *> releases = m_list->releases();
    for (const Release *release : releases) {
        if (release->isLocal() || release->edition() != m_filterEdition || release->source() != m_filterSource)
            continue;
        const QList<ReleaseVersion *> versions = release->versionList();
        for (const ReleaseVersion *version : versions) {
            const QList<ReleaseVariant *> variants = version->variantList();
            for (const ReleaseVariant *variant : variants) {
                if (variant->arch() && !result.contains(variant->arch()))
                    result.append(variant->arch());
            }
        }
    }
    // x86_64 first, the others in table order.
    const ReleaseArchitecture *preferred = ReleaseArchitecture::fromAbbreviation(QStringLiteral("x86_64"));
    std::sort(result.begin(), result.end(), [preferred](const ReleaseArchitecture *a, const ReleaseArchitecture *b) {
        if ((a == preferred) != (b == preferred))
            return a == preferred;
        return a->index() < b->index();
    });
    return result;
}

void ReleaseManager::ensureValidFilterArchitecture()
{
    const QList<ReleaseArchitecture *> available = availableArchitectures();
    if (available.isEmpty())
        return;
    ReleaseArchitecture *preferred = ReleaseArchitecture::fromAbbreviation(QStringLiteral("x86_64"));
    if (available.contains(preferred)) {
        setFilterArchitecture(preferred->index());
        return;
    }
    for (const ReleaseArchitecture *architecture : available) {
        if (architecture->index() == m_filterArchitecture)
            return;
    }
    setFilterArchitecture(available.first()->index());
}

ReleaseVariant *ReleaseManager::localFile() const
{
    const QList<Release *> releases = m_list->releases();
    for (const Release *release : releases) {
        if (release->source() != Release::LOCAL)
            continue;
        ReleaseVersion *version = release->selectedVersion();
        return version ? version->selectedVariant() : nullptr;
    }
    return nullptr;
}

int ReleaseManager::firstSource() const
{
    const QList<Release *> releases = m_list->releases();
    for (int row = 0; row < releases.size(); ++row) {
        if (releases.at(row)->source() == m_filterSource)
            return row;
    }
    return 0;
}

int ReleaseManager::firstEdition() const
{
    const QList<Release *> releases = m_list->releases();
    for (int row = 0; row < releases.size(); ++row) {
        if (releases.at(row)->edition() == m_filterEdition)
            return row;
    }
    return 0;
}

Release *ReleaseManager::get(int index) const
{
    return m_list->get(index);
}

void ReleaseManager::selectLocalFile(const QString &path)
{
    qCDebug(MessageHandler::category) << metaObject()->className() << "Setting local file to" << path;
    const QList<Release *> releases = m_list->releases();
    for (int row = 0; row < releases.size(); ++row) {
        if (releases.at(row)->source() != Release::LOCAL)
            continue;
        releases.at(row)->setLocalFile(path);
        setSelectedIndex(row);
        emit localFileChanged();
    }
}

void ReleaseManager::selectLocalFile()
{
    selectLocalFile(QString());
}

bool ReleaseManager::isWindows() const
{
    return false;
}

bool ReleaseManager::hasEdition(int edition) const
{
    const QList<Release *> releases = m_list->releases();
    return std::any_of(releases.cbegin(), releases.cend(),
                       [edition](const Release *release) { return release->edition() == edition; });
}

bool ReleaseManager::filterAcceptsRow(int sourceRow, const QModelIndex &sourceParent) const
{
    Q_UNUSED(sourceParent)
    const Release *release = m_list->get(sourceRow);
    if (!release || release->edition() != m_filterEdition || release->source() != m_filterSource)
        return false;
    const QList<ReleaseVersion *> versions = release->versionList();
    for (const ReleaseVersion *version : versions) {
        const QList<ReleaseVariant *> variants = version->variantList();
        for (const ReleaseVariant *variant : variants) {
            if (variant->arch() && variant->arch()->index() == m_filterArchitecture)
                return true;
        }
    }
    return false;
}

void ReleaseManager::setDriveBackend(DriveBackend *backend)
{
    if (m_driveBackend == backend)
        return;
    m_driveBackend = backend;
    onDriveBackendChanged();
}

void ReleaseManager::onDriveBackendChanged()
{
    // Every image, also those of versions on their way out that a drive may
    // still be writing.
    const QList<ReleaseVariant *> variants = findChildren<ReleaseVariant *>();
    for (ReleaseVariant *variant : variants)
        variant->announceBackendChange();
}
