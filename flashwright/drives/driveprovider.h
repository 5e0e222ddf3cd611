#pragma once

#include <QObject>
#include <QString>

class Drive;
class DriveManager;

// A source of drives: the UDisks2 discovery, or the simulated drives of
// --testing. It owns its drives and tells the drive list about them.
//
// Obligations: driveConnected(d) once per new drive, after it is fully built;
// driveRemoved(d) before the drive goes, which is deleted only afterwards and
// later (deleteLater); backendBroken(message) with a translated text when no
// drive can be listed at all, and backendRecovered() once they can be again;
// a known drive is updated in place.
class DriveProvider : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool initialized READ initialized NOTIFY initializedChanged)

public:
    // The simulated drives when the program runs with --testing, else UDisks2.
    static DriveProvider *create(DriveManager *parent);

    [[nodiscard]] bool initialized() const { return m_initialized; }

signals:
    void driveConnected(Drive *d);
    void driveRemoved(Drive *d);
    void backendBroken(QString message);
    void backendRecovered();
    void initializedChanged();

protected:
    explicit DriveProvider(DriveManager *parent);

    // A provider that scans first clears this in its constructor and sets it
    // when a scan has finished.
    bool m_initialized = true;
};
