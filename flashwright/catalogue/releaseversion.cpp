#include "releaseversion.h"

#include "release.h"
#include "releasearchitecture.h"
#include "releasemanager.h"
#include "releasevariant.h"

ReleaseVersion::ReleaseVersion(Release *parent, int number, Status status, const QDateTime &releaseDate)
    : QObject(parent)
    , m_number(number)
    , m_status(status)
    , m_releaseDate(releaseDate)
{
    if (m_status != FINAL && parent)
        emit parent->prereleaseChanged();
    connectToManager();
}

ReleaseVersion::ReleaseVersion(Release *parent, const QString &file, qint64 size)
    : QObject(parent)
    , m_number(0)
    , m_status(FINAL)
{
    m_variants.append(new ReleaseVariant(this, file, size));
    connectToManager();
}

void ReleaseVersion::connectToManager()
{
    if (Release *owner = release()) {
        if (ReleaseManager *manager = owner->manager())
            connect(this, &ReleaseVersion::selectedVariantChanged, manager, &ReleaseManager::variantChangedFilter);
    }
}

Release *ReleaseVersion::release() const
{
    return qobject_cast<Release *>(parent());
}

QString ReleaseVersion::name() const
{
    switch (m_status) {
    case RELEASE_CANDIDATE:
        return tr("%1 Release Candidate").arg(m_number);
    case BETA:
        return tr("%1 Beta").arg(m_number);
    case ALPHA:
        return tr("%1 Alpha").arg(m_number);
    case FINAL:
        break;
    }
    return QString::number(m_number);
}

static qsizetype countVariants(QQmlListProperty<ReleaseVariant> *list)
{
    return static_cast<ReleaseVersion *>(list->object)->variantList().size();
}

static ReleaseVariant *variantAt(QQmlListProperty<ReleaseVariant> *list, qsizetype index)
{
    const QList<ReleaseVariant *> variants = static_cast<ReleaseVersion *>(list->object)->variantList();
    return index >= 0 && index < variants.size() ? variants.at(index) : nullptr;
}

QQmlListProperty<ReleaseVariant> ReleaseVersion::variants()
{
    return QQmlListProperty<ReleaseVariant>(this, nullptr, &countVariants, &variantAt);
}

void ReleaseVersion::addVariant(ReleaseVariant *variant)
{
    m_variants.append(variant);
    emit variantsChanged();
    if (m_variants.size() == 1)
        emit selectedVariantChanged();
}

ReleaseVariant *ReleaseVersion::selectedVariant() const
{
    if (m_selectedVariant >= 0 && m_selectedVariant < m_variants.size())
        return m_variants.at(m_selectedVariant);
    return nullptr;
}

void ReleaseVersion::setSelectedVariantIndex(int index)
{
    if (index == m_selectedVariant || index < 0 || index >= m_variants.size())
        return;
    m_selectedVariant = index;
    emit selectedVariantChanged();
}

ReleaseVersion::Status ReleaseVersion::statusFromWord(const QString &word)
{
    if (word == QLatin1String("alpha"))
        return ALPHA;
    if (word == QLatin1String("beta"))
        return BETA;
    return FINAL;
}

static ReleaseVariant::Type typeFromWord(const QString &word)
{
    if (word == QLatin1String("atomic"))
        return ReleaseVariant::ATOMIC;
    if (word == QLatin1String("netinst") || word == QLatin1String("netinstall"))
        return ReleaseVariant::NETINSTALL;
    if (word == QLatin1String("full"))
        return ReleaseVariant::FULL;
    return ReleaseVariant::LIVE;
}

bool ReleaseVersion::updateUrl(const QString &status, const QString &type, const QDateTime &releaseDate,
                               const QString &architecture, const QString &url, const QString &md5, qint64 size)
{
    const Status mapped = statusFromWord(status);
    // A final version never takes a pre-release's image.
    if (m_status < mapped)
        return false;

    m_status = mapped;
    emit statusChanged();
    if (mapped == FINAL) {
        if (Release *owner = release())
            emit owner->prereleaseChanged();
    }

    if (releaseDate.isValid() && releaseDate != m_releaseDate) {
        m_releaseDate = releaseDate;
        emit releaseDateChanged();
    }

    const ReleaseVariant::Type mappedType = typeFromWord(type);
    ReleaseArchitecture *arch = ReleaseArchitecture::fromAbbreviation(architecture);
    for (ReleaseVariant *variant : std::as_const(m_variants)) {
        if (variant->arch() == arch && variant->type() == mappedType)
            return variant->updateUrl(url, md5, size);
    }

    // The selection stays where it is; the architecture filter picks again
    // once the whole reply is merged.
    m_variants.append(new ReleaseVariant(this, url, md5, size, arch, mappedType));
    emit variantsChanged();
    return true;
}
