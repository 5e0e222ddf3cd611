#include "releaselistmodel.h"

#include "feedentry.h"
#include "release.h"
#include "releasearchitecture.h"
#include "releasemanager.h"
#include "releasevariant.h"
#include "releaseversion.h"

ReleaseListModel::ReleaseListModel(ReleaseManager *parent)
    : QAbstractListModel(parent)
{
    auto *custom = new Release(
        parent, 0, tr("Custom image"), QStringLiteral(QT_TRANSLATE_NOOP("Release", "Pick a file from your drive(s)")),
        { QStringLiteral(QT_TRANSLATE_NOOP("Release",
                                           "<p>Here you can choose a OS image from your hard drive to be written to "
                                           "your flash disk</p><p>Currently it "
                                           "is only supported to write raw disk images (.iso or .bin)</p>")) },
        QStringLiteral("Other"), Release::LOCAL, Release::NONE, QStringLiteral("qrc:/logos/folder"), QStringList());
    auto *version = new ReleaseVersion(custom, 0, ReleaseVersion::FINAL, QDateTime());
    version->addVariant(new ReleaseVariant(version, QString(), QString(), 0,
                                           ReleaseArchitecture::fromId(ReleaseArchitecture::X86_64),
                                           ReleaseVariant::LIVE));
    custom->addVersion(version);
    m_releases.append(custom);
}

ReleaseManager *ReleaseListModel::manager() const
{
    return qobject_cast<ReleaseManager *>(parent());
}

int ReleaseListModel::rowCount(const QModelIndex &parent) const
{
    // A flat list: rows have no children, or views and proxies would see an
    // endless tree.
    return parent.isValid() ? 0 : int(m_releases.size());
}

QVariant ReleaseListModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() < 0 || index.row() >= m_releases.size())
        return QVariant();
    Release *release = m_releases.at(index.row());
    switch (role) {
    case Qt::DisplayRole:
        return release->name();
    case ReleaseRole:
        return QVariant::fromValue(release);
    case SourceIndexRole:
        // The pages use it as a combo box value and expect text.
        return QString::number(index.row());
    default:
        return QVariant();
    }
}

QVariant ReleaseListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    Q_UNUSED(section)
    Q_UNUSED(orientation)
    const QByteArray name = roleNames().value(role);
    return name.isEmpty() ? QVariant() : QVariant(QString::fromLatin1(name));
}

QHash<int, QByteArray> ReleaseListModel::roleNames() const
{
    return {
        { Qt::DisplayRole, QByteArrayLiteral("name") },
        { ReleaseRole, QByteArrayLiteral("release") },
        { SourceIndexRole, QByteArrayLiteral("sourceIndex") },
    };
}

Release *ReleaseListModel::get(int index) const
{
    return index >= 0 && index < m_releases.size() ? m_releases.at(index) : nullptr;
}

void ReleaseListModel::appendRelease(const FeedEntry &entry)
{
    const int row = int(m_releases.size());
    // Appended rows are announced: views and proxies rely on it. A release
    // has no image yet when it is inserted; the manager filters again once
    // the images are merged.
    beginInsertRows(QModelIndex(), row, row);
    auto *release = new Release(manager(), row, entry.name, entry.name, entry.description, entry.subvariant,
                                entry.source, entry.edition, entry.icon, entry.screenshots);
    m_releases.append(release);
    // The first release of a subvariant receives the images of all its entries.
    if (!m_bySubvariant.contains(entry.subvariantKey))
        m_bySubvariant.insert(entry.subvariantKey, release);
    endInsertRows();

    emit appendToModelFinished(entry);
}

Release *ReleaseListModel::findSubvariant(const QString &subvariant) const
{
    return m_bySubvariant.value(subvariant, nullptr);
}
