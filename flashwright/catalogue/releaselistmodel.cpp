#include "releaselistmodel.h"

#include "release.h"
#include "releasearchitecture.h"
#include "releasemanager.h"
#include "releasevariant.h"
#include "releaseversion.h"

#include <QJsonArray>

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

static QStringList stringList(const QJsonValue &value)
{
    QStringList list;
    const QJsonArray array = value.toArray();
    for (const QJsonValue &element : array)
        list.append(element.toString());
    return list;
}

void ReleaseListModel::appendRelease(QJsonObject &obj)
{
    const QString subvariant = obj.value(QLatin1String("SUBVARIANT")).toString();
    const QString variant = obj.value(QLatin1String("VARIANT")).toString();
    Release::Source source = Release::OTHER;
    if (variant == QLatin1String("zv80"))
        source = Release::ZV80;
    else if (variant == QLatin1String("zv73"))
        source = Release::ZV73;
    const Release::Edition edition = Release::getEditionEnum(obj.value(QLatin1String("EDITION")).toString());
    const QString name = obj.value(QLatin1String("NAME")).toString();
    const QString icon = obj.contains(QLatin1String("ICON")) ? obj.value(QLatin1String("ICON")).toString()
                                                             : QStringLiteral("qrc:/logos/placeholder");

    const int row = int(m_releases.size());
    // Appended rows are announced: views and proxies rely on it. A release
    // has no image yet when it is inserted; the manager filters again once
    // the images are merged.
    beginInsertRows(QModelIndex(), row, row);
    auto *release = new Release(manager(), row, name, name, stringList(obj.value(QLatin1String("DESCRIPTION"))),
                                subvariant, source, edition, icon, stringList(obj.value(QLatin1String("SCREENSHOTS"))));
    m_releases.append(release);
    // The first release of a subvariant receives the images of all its entries.
    const QString key = subvariant.toLower();
    if (!m_bySubvariant.contains(key))
        m_bySubvariant.insert(key, release);
    endInsertRows();

    emit appendToModelFinished(obj);
}

Release *ReleaseListModel::findSubvariant(const QString &subvariant) const
{
    return m_bySubvariant.value(subvariant, nullptr);
}
