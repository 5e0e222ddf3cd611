#include "fakedriveprovider.h"

#include "drivemanager.h"
#include "fakedrive.h"
#include "messagehandler.h"

#include <QTimer>

quint64 FakeDriveProvider::s_nextRestoreableSize = 4444444444ULL;

FakeDriveProvider::FakeDriveProvider(DriveManager *parent)
    : DriveProvider(parent)
{
    // The manager connects to this provider only after the constructor returns.
    QTimer::singleShot(0, this, &FakeDriveProvider::connectDrives);
}

void FakeDriveProvider::setWriteStepInterval(int milliseconds)
{
    m_writeStepInterval = milliseconds;
}

void FakeDriveProvider::setRestoreDuration(int milliseconds)
{
    m_restoreDuration = milliseconds;
}

void FakeDriveProvider::setRemoveAfterRestoreDelay(int milliseconds)
{
    m_removeAfterRestoreDelay = milliseconds;
}

void FakeDriveProvider::setNewRestoreableDelay(int milliseconds)
{
    m_newRestoreableDelay = milliseconds;
}

void FakeDriveProvider::setReconnectDelay(int milliseconds)
{
    m_reconnectDelay = milliseconds;
}

void FakeDriveProvider::connectDrives()
{
    const struct
    {
        const char *name;
        quint64 size;
    } drives[] { { "Okay", 12345678900ULL },
                 { "Fails", 9876543210ULL },
                 { "Not Large Enough", 10000ULL },
                 { "Gets Disconnected", 10000000000ULL } };
    for (const auto &drive : drives)
        announce(new FakeDrive(this, QString::fromLatin1(drive.name), drive.size, false));
    QTimer::singleShot(m_newRestoreableDelay, this, &FakeDriveProvider::createNewRestoreable);
}

void FakeDriveProvider::createNewRestoreable()
{
    announce(new FakeDrive(this, QStringLiteral("Contains Live"), s_nextRestoreableSize, true));
    ++s_nextRestoreableSize;
}

void FakeDriveProvider::createNewGetsDisconnected()
{
    announce(new FakeDrive(this, QStringLiteral("Gets Disconnected"), 1000000000ULL, false));
}

// Logged, so that whoever drives the program from outside (the screenshot
// test) can wait for a drive instead of guessing how long it takes.
void FakeDriveProvider::announce(FakeDrive *drive)
{
    qCDebug(MessageHandler::category) << metaObject()->className() << "Connected" << drive->rawName()
                                      << drive->byteSize();
    emit driveConnected(drive);
}
