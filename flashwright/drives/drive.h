#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

class DriveProvider;
class Progress;
class ReleaseVariant;

// One removable drive that an image can be written to or that can be
// restored. The provider that found it owns it; the concrete drives do the
// writing (through the helper program, or simulated).
class Drive : public QObject
{
    Q_OBJECT
    Q_MOC_INCLUDE("progress.h")
    Q_MOC_INCLUDE("releasevariant.h")
    Q_PROPERTY(Progress *progress READ progress CONSTANT)
    Q_PROPERTY(QString name READ name NOTIFY infoChanged)
    Q_PROPERTY(QString readableSize READ readableSize NOTIFY infoChanged)
    Q_PROPERTY(double size READ size NOTIFY infoChanged)
    Q_PROPERTY(RestoreStatus restoreStatus READ restoreStatus NOTIFY restoreStatusChanged)
    Q_PROPERTY(bool delayedWrite READ delayedWrite WRITE setDelayedWrite NOTIFY delayedWriteChanged)
    Q_PROPERTY(bool busy READ isBusy NOTIFY busyChanged)

public:
    // The pages mirror these numbers; do not renumber.
    enum RestoreStatus { CLEAN = 0, CONTAINS_LIVE, RESTORING, RESTORE_ERROR, RESTORED };
    Q_ENUM(RestoreStatus)

    Drive(DriveProvider *parent, const QString &name, quint64 size, bool containsLive);

    // Called by the provider when it sees this drive again.
    virtual void updateDrive(const QString &name, quint64 size, bool containsLive);
    // The raw name with the readable size, as the drive lists show it.
    [[nodiscard]] virtual QString name() const;
    [[nodiscard]] virtual QString readableSize() const;
    [[nodiscard]] virtual double size() const;
    [[nodiscard]] virtual RestoreStatus restoreStatus();
    [[nodiscard]] virtual bool delayedWrite() const;
    virtual void setDelayedWrite(const bool &o);

    Q_INVOKABLE virtual void setImage(ReleaseVariant *data);
    // The checks every concrete write runs first: false when there is no
    // image or the image does not fit (the image then says why).
    Q_INVOKABLE virtual bool write(ReleaseVariant *data);
    Q_INVOKABLE virtual void cancel();
    Q_INVOKABLE virtual void restore() = 0;

    [[nodiscard]] Progress *progress() const { return m_progress; }
    [[nodiscard]] QString rawName() const { return m_name; }
    [[nodiscard]] quint64 byteSize() const { return m_size; }
    // True while a write or restore of this drive runs; the drive list holds
    // the selection still meanwhile.
    [[nodiscard]] bool isBusy() const { return m_busy; }
    // Whether the drive holds a live image (an ISO 9660 or UDF filesystem),
    // not merely an unusual layout: only such a drive is offered for
    // restoring without the user having written it. The provider keeps it
    // up to date, before it announces or updates the drive.
    [[nodiscard]] bool carriesLiveImage() const { return m_carriesLiveImage; }
    void setCarriesLiveImage(bool carries) { m_carriesLiveImage = carries; }

    bool operator==(const Drive &o) const;

public slots:
    void setRestoreStatus(Drive::RestoreStatus o);

signals:
    void infoChanged();
    void restoreStatusChanged();
    void delayedWriteChanged();
    void busyChanged();

protected:
    // True for the statuses of a finished image (ready, written, failed),
    // which a write may take over; the download statuses belong to the catalogue.
    [[nodiscard]] static bool isWritable(int status);
    [[nodiscard]] ReleaseVariant *image() const;
    void setImagePointer(ReleaseVariant *data);
    void setBusy(bool busy);
    // Clears the flag without the cancel() that setDelayedWrite(false) runs:
    // for a helper that has already ended.
    void clearDelayedWrite();
    // Sets the status and emits its signal even when it did not change.
    void announceRestoreStatus(RestoreStatus o);

private:
    void logRestoreStatus() const;

    // Guarded: a custom image can be replaced, and with it its variant
    // deleted, while a drive still remembers it.
    QPointer<ReleaseVariant> m_image;
    Progress *m_progress;
    QString m_name;
    quint64 m_size;
    RestoreStatus m_restoreStatus;
    bool m_delayedWrite = false;
    bool m_busy = false;
    bool m_carriesLiveImage = false;
};
