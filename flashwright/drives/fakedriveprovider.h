#pragma once

#include "driveprovider.h"

class FakeDrive;

// The simulated drives of --testing: a fixed set whose names say how a write
// to them ends, so every outcome the pages must show can be seen without
// hardware and without the helper program.
class FakeDriveProvider : public DriveProvider
{
    Q_OBJECT

public:
    explicit FakeDriveProvider(DriveManager *parent);

    // The simulated durations, as the program has them; tests shorten them to
    // walk through whole writes and restores quickly. A change applies to the
    // next step that is scheduled.
    [[nodiscard]] int writeStepInterval() const { return m_writeStepInterval; }
    void setWriteStepInterval(int milliseconds);
    [[nodiscard]] int restoreDuration() const { return m_restoreDuration; }
    void setRestoreDuration(int milliseconds);
    // How long a restored drive stays before it is pulled out, how long until
    // a new live drive follows it (or the four drives of the start), and how
    // long a drive that disconnected while written stays away.
    [[nodiscard]] int removeAfterRestoreDelay() const { return m_removeAfterRestoreDelay; }
    void setRemoveAfterRestoreDelay(int milliseconds);
    [[nodiscard]] int newRestoreableDelay() const { return m_newRestoreableDelay; }
    void setNewRestoreableDelay(int milliseconds);
    [[nodiscard]] int reconnectDelay() const { return m_reconnectDelay; }
    void setReconnectDelay(int milliseconds);

public slots:
    // A "Contains Live" drive with the next size: restoring one with an even
    // size succeeds, with an odd one fails.
    void createNewRestoreable();
    void createNewGetsDisconnected();

private slots:
    void connectDrives();

private:
    void announce(FakeDrive *drive);

    int m_writeStepInterval = 100;
    int m_restoreDuration = 5000;
    int m_removeAfterRestoreDelay = 5000;
    int m_newRestoreableDelay = 2000;
    int m_reconnectDelay = 5000;

    // Process-wide, so consecutive restores alternate between the outcomes.
    static quint64 s_nextRestoreableSize;
};
