#include "drivemanager.h"

#include "driveprovider.h"
#include "messagehandler.h"

#include <QQmlEngine>

#include <utility>

DriveManager *DriveManager::instance()
{
    static DriveManager *manager = new DriveManager(&DriveProvider::create);
    return manager;
}

DriveManager::DriveManager(const ProviderFactory &factory, QObject *parent)
    : QAbstractListModel(parent)
{
    m_provider = factory(this);
    qCDebug(MessageHandler::category) << metaObject()->className() << "construction";
    qmlRegisterUncreatableType<Drive>("Flashwright", 1, 0, "Drive", QString());
    connect(m_provider, &DriveProvider::driveConnected, this, &DriveManager::onDriveConnected);
    connect(m_provider, &DriveProvider::driveRemoved, this, &DriveManager::onDriveRemoved);
    connect(m_provider, &DriveProvider::backendBroken, this, &DriveManager::onBackendBroken);
    connect(m_provider, &DriveProvider::backendRecovered, this, &DriveManager::onBackendRecovered);
}

int DriveManager::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_drives.size());
}

QVariant DriveManager::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_drives.size())
        return {};
    Drive *drive = m_drives.at(index.row());
    if (role == DriveRole)
        return QVariant::fromValue(drive);
    if (role == DisplayRole)
        return drive->name();
    return {};
}

QVariant DriveManager::headerData(int, Qt::Orientation, int role) const
{
    if (role == DriveRole)
        return QStringLiteral("drive");
    if (role == DisplayRole)
        return QStringLiteral("display");
    return {};
}

QHash<int, QByteArray> DriveManager::roleNames() const
{
    return { { DriveRole, "drive" }, { DisplayRole, "display" } };
}

Drive *DriveManager::selected() const
{
    if (m_selectedIndex >= 0 && m_selectedIndex < m_drives.size())
        return m_drives.at(m_selectedIndex);
    return nullptr;
}

void DriveManager::setSelectedIndex(int o)
{
    if (o == m_selectedIndex || o < 0 || o >= m_drives.size())
        return;
    m_selectedIndex = o;
    emit selectedChanged();
}

bool DriveManager::isBackendBroken() const
{
    return !m_errorString.isEmpty();
}

Drive *DriveManager::lastRestoreable() const
{
    if (m_lastRestoreable && m_drives.contains(m_lastRestoreable.data()))
        return m_lastRestoreable;
    return nullptr;
}

void DriveManager::setLastRestoreable(Drive *d)
{
    if (d && !m_drives.contains(d))
        d = nullptr;
    if (d == m_lastRestoreable.data())
        return;
    m_lastRestoreable = d;
    emit restoreableDriveChanged();
}

bool DriveManager::contains(Drive *d) const
{
    return d && m_drives.contains(d);
}

void DriveManager::onDriveConnected(Drive *d)
{
    if (!d || m_drives.contains(d))
        return;
    // Equal sizes keep the order in which the drives came.
    int row = 0;
    while (row < m_drives.size() && m_drives.at(row)->size() <= d->size())
        ++row;
    Drive *wasSelected = selected();
    const bool hold = isAnotherDriveBusy(d);

    beginInsertRows(QModelIndex(), row, row);
    m_drives.insert(row, d);
    endInsertRows();
    emit drivesChanged();

    if (hold) {
        if (wasSelected)
            m_selectedIndex = int(m_drives.indexOf(wasSelected));
    } else {
        // During the first scan the smallest drive ends up selected; later a
        // drive the user just plugged in becomes the choice.
        m_selectedIndex = m_provider && m_provider->initialized() ? row : 0;
    }
    emit selectedChanged();

    connect(d, &Drive::restoreStatusChanged, this, [this, d] { onDriveRestoreStatusChanged(d); });
    connect(d, &Drive::infoChanged, this, [this, d] { onDriveInfoChanged(d); });
    // Offered unasked only when it holds a written live image: a backup disk
    // with ext4 plugged in after a write must not take the offer from the
    // stick just written.
    if (!hold && d->restoreStatus() == Drive::CONTAINS_LIVE && d->carriesLiveImage())
        setLastRestoreable(d);
}

void DriveManager::onDriveRemoved(Drive *d)
{
    const int row = int(m_drives.indexOf(d));
    if (row < 0)
        return;
    disconnect(d, nullptr, this, nullptr);
    const bool hold = isAnotherDriveBusy(d);

    beginRemoveRows(QModelIndex(), row, row);
    m_drives.removeAt(row);
    endRemoveRows();
    emit drivesChanged();

    if (row == m_selectedIndex)
        m_selectedIndex = 0;
    else if (row < m_selectedIndex)
        --m_selectedIndex;
    emit selectedChanged();

    if (d == m_lastRestoreable.data())
        setLastRestoreable(hold ? nullptr : findRestoreable());
}

void DriveManager::onDriveRestoreStatusChanged(Drive *d)
{
    if (!m_drives.contains(d))
        return;
    if (d->restoreStatus() == Drive::CONTAINS_LIVE)
        setLastRestoreable(d);
    else if (d == m_lastRestoreable.data())
        setLastRestoreable(findRestoreable());
}

void DriveManager::onBackendBroken(QString message)
{
    m_errorString = std::move(message);
    emit isBackendBrokenChanged();
}

void DriveManager::onBackendRecovered()
{
    if (m_errorString.isEmpty())
        return;
    m_errorString.clear();
    emit isBackendBrokenChanged();
}

Drive *DriveManager::findRestoreable() const
{
    // The role passes on unasked, so as on connecting only to a live image.
    for (auto it = m_drives.crbegin(); it != m_drives.crend(); ++it) {
        if ((*it)->restoreStatus() == Drive::CONTAINS_LIVE && (*it)->carriesLiveImage())
            return *it;
    }
    return nullptr;
}

bool DriveManager::isAnotherDriveBusy(const Drive *d) const
{
    return std::any_of(m_drives.cbegin(), m_drives.cend(),
                       [d](const Drive *other) { return other != d && other->isBusy(); });
}

void DriveManager::onDriveInfoChanged(Drive *d)
{
    int row = int(m_drives.indexOf(d));
    if (row < 0)
        return;
    // A card reader that gets another card keeps its object but changes its
    // size: keep the list in order and the same drive selected.
    int target = 0;
    for (int i = 0; i < m_drives.size(); ++i) {
        if (i != row && m_drives.at(i)->size() <= d->size())
            ++target;
    }
    if (target != row) {
        Drive *wasSelected = selected();
        beginMoveRows(QModelIndex(), row, row, QModelIndex(), target > row ? target + 1 : target);
        m_drives.move(row, target);
        endMoveRows();
        row = target;
        const int selectedRow = wasSelected ? int(m_drives.indexOf(wasSelected)) : m_selectedIndex;
        if (selectedRow != m_selectedIndex) {
            m_selectedIndex = selectedRow;
            emit selectedChanged();
        }
    }
    const QModelIndex changed = index(row);
    emit dataChanged(changed, changed, { DisplayRole });
}
