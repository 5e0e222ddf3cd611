#include "release.h"

#include "releasearchitecture.h"
#include "releasemanager.h"
#include "releasevariant.h"
#include "releaseversion.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QPointer>
#include <QUrl>

#include "messagehandler.h"

Release::Release(ReleaseManager *parent, int index, const QString &name, const QString &summary,
                 const QStringList &description, const QString &subvariant, Source source, Edition edition,
                 const QString &icon, const QStringList &screenshots)
    : QObject(parent)
    , m_index(index)
    , m_name(name)
    , m_summary(summary)
    , m_description(description)
    , m_subvariant(subvariant)
    , m_source(source)
    , m_edition(edition)
    , m_icon(icon)
    , m_screenshots(screenshots)
{
    // Any change of selection anywhere in the tree is a change of the
    // manager's selected variant.
    if (parent)
        connect(this, &Release::selectedVersionChanged, parent, &ReleaseManager::variantChangedFilter);
}

ReleaseManager *Release::manager() const
{
    return qobject_cast<ReleaseManager *>(parent());
}

QString Release::summary() const
{
    return QCoreApplication::translate("Release", m_summary.toUtf8().constData());
}

QString Release::description() const
{
    QString text;
    for (const QString &paragraph : m_description)
        text += QCoreApplication::translate("Release", paragraph.toUtf8().constData());
    return text;
}

QString Release::prerelease() const
{
    if (m_versions.isEmpty() || m_versions.first()->status() == ReleaseVersion::FINAL)
        return QString();
    return m_versions.first()->name();
}

QString Release::sourceString() const
{
    return m_source == OTHER ? tr("Other") : QString();
}

QString Release::editionString() const
{
    switch (m_edition) {
    case STANDART:
        return tr("Standart Edition");
    case CERT:
        return tr("Certify Edition");
    case HOME:
        return tr("Home Edition");
    case EDUCATION:
        return tr("Education Edition");
    case NONE:
        break;
    }
    return QString();
}

Release::Edition Release::getEditionEnum(const QString &edition)
{
    const QString word = edition.toLower();
    if (word == QLatin1String("standart"))
        return STANDART;
    if (word == QLatin1String("cert"))
        return CERT;
    if (word == QLatin1String("home"))
        return HOME;
    if (word == QLatin1String("education"))
        return EDUCATION;
    return NONE;
}

static qsizetype countVersions(QQmlListProperty<ReleaseVersion> *list)
{
    return static_cast<Release *>(list->object)->versionList().size();
}

static ReleaseVersion *versionAt(QQmlListProperty<ReleaseVersion> *list, qsizetype index)
{
    const QList<ReleaseVersion *> versions = static_cast<Release *>(list->object)->versionList();
    return index >= 0 && index < versions.size() ? versions.at(index) : nullptr;
}

QQmlListProperty<ReleaseVersion> Release::versions()
{
    return QQmlListProperty<ReleaseVersion>(this, nullptr, &countVersions, &versionAt);
}

QStringList Release::versionNames() const
{
    QStringList names;
    for (const ReleaseVersion *version : m_versions)
        names.append(version->name());
    return names;
}

void Release::addVersion(ReleaseVersion *version)
{
    for (int i = 0; i < m_versions.size(); ++i) {
        if (m_versions.at(i)->number() < version->number()) {
            m_versions.insert(i, version);
            emit versionsChanged();
            // A pre-release put before the selection must not take it over.
            if (version->status() != ReleaseVersion::FINAL && i <= m_selectedVersion)
                ++m_selectedVersion;
            emit selectedVersionChanged();
            return;
        }
    }
    m_versions.append(version);
    emit versionsChanged();
    emit selectedVersionChanged();
}

void Release::removeVersion(ReleaseVersion *version)
{
    if (!version || !m_versions.contains(version))
        return;
    if (m_versions.indexOf(version) == m_selectedVersion) {
        m_selectedVersion = 0;
        emit selectedVersionChanged();
    }
    m_versions.removeOne(version);
    retire(version);
    emit versionsChanged();
}

void Release::retire(ReleaseVersion *version)
{
    const QList<ReleaseVariant *> variants = version->variantList();
    bool busy = false;
    for (const ReleaseVariant *variant : variants)
        busy = busy || variant->isBusy();
    if (!busy) {
        version->deleteLater();
        return;
    }
    // Whoever works on a busy image (a transfer reporting to it, a drive
    // writing it) keeps a valid object until the work is over.
    qCDebug(MessageHandler::category) << metaObject()->className() << "Keeping version" << version->name()
                                      << "until its images are idle";
    QPointer<ReleaseVersion> guard(version);
    for (ReleaseVariant *variant : variants) {
        connect(variant, &ReleaseVariant::statusChanged, version, [guard]() {
            if (!guard)
                return;
            const QList<ReleaseVariant *> all = guard->variantList();
            for (const ReleaseVariant *each : all) {
                if (each->isBusy())
                    return;
            }
            guard->disconnect();
            guard->deleteLater();
        });
    }
}

ReleaseVersion *Release::selectedVersion() const
{
    if (m_selectedVersion >= 0 && m_selectedVersion < m_versions.size())
        return m_versions.at(m_selectedVersion);
    return nullptr;
}

void Release::setSelectedVersionIndex(int index)
{
    if (index == m_selectedVersion || index < 0 || index >= m_versions.size())
        return;
    m_selectedVersion = index;
    emit selectedVersionChanged();
}

bool Release::updateUrl(int number, const QString &status, const QString &type, const QDateTime &releaseDate,
                        const QString &architecture, const QString &url, const QString &md5, qint64 size)
{
    int finalVersions = 0;
    for (ReleaseVersion *version : std::as_const(m_versions)) {
        if (version->status() == ReleaseVersion::FINAL)
            ++finalVersions;
        if (version->number() == number)
            return version->updateUrl(status, type, releaseDate, architecture, url, md5, size);
    }

    auto *version = new ReleaseVersion(this, number, ReleaseVersion::statusFromWord(status), releaseDate);
    auto *variant = new ReleaseVariant(version, url, md5, size, ReleaseArchitecture::fromAbbreviation(architecture),
                                       ReleaseVariant::LIVE);
    version->addVariant(variant);
    addVersion(version);

    if (version->status() == ReleaseVersion::FINAL)
        ++finalVersions;
    if (finalVersions <= 2)
        return true;

    // Only the two newest final versions are offered; the lowest number goes,
    // whatever its status.
    ReleaseVersion *lowest = m_versions.first();
    for (ReleaseVersion *each : std::as_const(m_versions)) {
        if (each->number() < lowest->number())
            lowest = each;
    }
    removeVersion(lowest);
    return true;
}

void Release::setLocalFile(const QString &path)
{
    if (m_source != LOCAL)
        return;

    const QString localPath = QUrl(path, QUrl::TolerantMode).toLocalFile();
    const QFileInfo file(localPath);
    // A folder is no image either.
    const bool exists = !localPath.isEmpty() && file.exists() && !file.isDir();
    if (!exists && !path.isEmpty()) {
        qCCritical(MessageHandler::category) << path << "doesn't exist";
        return;
    }

    if (m_versions.size() == 1) {
        ReleaseVersion *old = m_versions.takeFirst();
        retire(old);
    }
    m_versions.append(new ReleaseVersion(this, localPath, exists ? file.size() : 0));
    emit versionsChanged();
    emit selectedVersionChanged();
}
