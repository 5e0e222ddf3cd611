#pragma once

#include "drive.h"
#include "drivebackend.h"

#include <QAbstractListModel>
#include <QList>
#include <QPointer>
#include <QString>

#include <functional>

class DriveProvider;

// The list of all drives, smallest first, with the user's selection and the
// drive offered for restoring. The pages use it as the model of their drive
// lists (roles "drive" and "display") and know it as `drives`. The catalogue
// asks it, as its drive back end, whether writing is possible at all.
class DriveManager : public QAbstractListModel, public DriveBackend
{
    Q_OBJECT
    Q_PROPERTY(int length READ length NOTIFY drivesChanged)
    Q_PROPERTY(Drive *selected READ selected NOTIFY selectedChanged)
    Q_PROPERTY(int selectedIndex READ selectedIndex WRITE setSelectedIndex NOTIFY selectedChanged)
    Q_PROPERTY(bool isBroken READ isBackendBroken NOTIFY isBackendBrokenChanged)
    Q_PROPERTY(QString errorString READ errorString NOTIFY isBackendBrokenChanged)
    Q_PROPERTY(Drive *lastRestoreable READ lastRestoreable WRITE setLastRestoreable NOTIFY restoreableDriveChanged)

public:
    enum Role { DriveRole = Qt::UserRole + 1, DisplayRole };
    using ProviderFactory = std::function<DriveProvider *(DriveManager *)>;

    // The program's one drive list, made on the first call with the provider
    // that the command line asks for.
    static DriveManager *instance();
    // A list of its own with the provider the factory makes (tests).
    explicit DriveManager(const ProviderFactory &factory, QObject *parent = nullptr);

    [[nodiscard]] int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    [[nodiscard]] QVariant data(const QModelIndex &index, int role) const override;
    [[nodiscard]] QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    [[nodiscard]] QHash<int, QByteArray> roleNames() const override;

    [[nodiscard]] Drive *selected() const;
    [[nodiscard]] int selectedIndex() const { return m_selectedIndex; }
    void setSelectedIndex(int o);
    [[nodiscard]] int length() const { return int(m_drives.size()); }
    [[nodiscard]] bool isBackendBroken() const override;
    [[nodiscard]] QString errorString() const { return m_errorString; }
    [[nodiscard]] Drive *lastRestoreable() const;
    void setLastRestoreable(Drive *d);

    // Whether the drive is still listed: a page that shows a drive checks this
    // before it acts on it, since the drive may have been unplugged.
    Q_INVOKABLE bool contains(Drive *d) const;
    [[nodiscard]] DriveProvider *provider() const { return m_provider; }

signals:
    void drivesChanged();
    void selectedChanged();
    void restoreableDriveChanged();
    void isBackendBrokenChanged();

private slots:
    void onDriveConnected(Drive *d);
    void onDriveRemoved(Drive *d);
    void onDriveRestoreStatusChanged(Drive *d);
    void onBackendBroken(QString message);
    void onBackendRecovered();

private:
    [[nodiscard]] Drive *findRestoreable() const;
    // While a drive is written or restored, plugging and unplugging other
    // drives must not move the selection or the restore candidate: the pages
    // act on them after the user confirmed a particular drive.
    [[nodiscard]] bool isAnotherDriveBusy(const Drive *d) const;
    void onDriveInfoChanged(Drive *d);

    QList<Drive *> m_drives;
    int m_selectedIndex = 0;
    QPointer<Drive> m_lastRestoreable;
    DriveProvider *m_provider = nullptr;
    QString m_errorString;
};
