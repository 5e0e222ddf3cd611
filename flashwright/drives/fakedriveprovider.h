#pragma once

#include "driveprovider.h"

// The simulated drives of --testing: a fixed set whose names say how a write
// to them ends, so every outcome the pages must show can be seen without
// hardware and without the helper program.
class FakeDriveProvider : public DriveProvider
{
    Q_OBJECT

public:
    explicit FakeDriveProvider(DriveManager *parent);

public slots:
    // A "Contains Live" drive with the next size: restoring one with an even
    // size succeeds, with an odd one fails.
    void createNewRestoreable();
    void createNewGetsDisconnected();

private slots:
    void connectDrives();

private:
    // Process-wide, so consecutive restores alternate between the outcomes.
    static quint64 s_nextRestoreableSize;
};
