#pragma once

#include "drive.h"
#include "drivemanager.h"
#include "driveprovider.h"

// The boundary of the drive list, driven by the test: a provider whose scans
// are the test's steps, and the plainest concrete drive.
class StubDrive : public Drive
{
public:
    using Drive::Drive;
    void restore() override { }
    void setBusyNow(bool busy) { setBusy(busy); }
};

class ScriptedProvider : public DriveProvider
{
public:
    explicit ScriptedProvider(DriveManager *parent)
        : DriveProvider(parent)
    {
        m_initialized = false;
    }

    void finishScan()
    {
        m_initialized = true;
        emit initializedChanged();
    }
    // A drive with a live layout holds a live image unless `liveImage` says
    // otherwise (an ext4 disk, say).
    StubDrive *plug(const QString &name, quint64 size, bool containsLive = false, bool liveImage = true)
    {
        auto *drive = new StubDrive(this, name, size, containsLive);
        drive->setCarriesLiveImage(containsLive && liveImage);
        emit driveConnected(drive);
        return drive;
    }
    void unplug(Drive *drive)
    {
        emit driveRemoved(drive);
        drive->deleteLater();
    }
    void breakBackend(const QString &message) { emit backendBroken(message); }
};

// A drive list of its own over a scripted provider.
struct ScriptedManager
{
    ScriptedProvider *provider = nullptr;
    DriveManager manager { [this](DriveManager *m) { return provider = new ScriptedProvider(m); } };
};
