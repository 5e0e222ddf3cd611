#include "fakedrive.h"

#include "fakedriveprovider.h"
#include "messagehandler.h"
#include "notifications.h"
#include "progress.h"
#include "releasevariant.h"

namespace {
constexpr double stepBytes = 123456789.0;
} // namespace

FakeDrive::FakeDrive(FakeDriveProvider *parent, const QString &name, quint64 size, bool containsLive)
    : Drive(parent, name, size, containsLive)
    , m_writeTimer(this)
    , m_restoreTimer(this)
    , m_removeTimer(this)
{
    // A simulated live layout is a simulated live image.
    setCarriesLiveImage(containsLive);
    progress()->setTo(double(size));
    for (QTimer *timer : { &m_writeTimer, &m_restoreTimer, &m_removeTimer })
        timer->setSingleShot(true);
    connect(&m_writeTimer, &QTimer::timeout, this, &FakeDrive::writingAdvanced);
    connect(&m_restoreTimer, &QTimer::timeout, this, &FakeDrive::restoringFinished);
    connect(&m_removeTimer, &QTimer::timeout, this, &FakeDrive::selfdestruct);
}

FakeDriveProvider *FakeDrive::provider() const
{
    return static_cast<FakeDriveProvider *>(parent());
}

bool FakeDrive::write(ReleaseVariant *data)
{
    // One simulated write at a time, like one helper per drive.
    if (isBusy())
        return false;
    if (!Drive::write(data))
        return false;
    progress()->setValue(0);
    data->setStatus(ReleaseVariant::WRITING);
    setBusy(true);
    qCDebug(MessageHandler::category) << metaObject()->className() << "Writing to" << rawName();
    m_writeTimer.start(provider()->writeStepInterval());
    return true;
}

void FakeDrive::finishWrite()
{
    setBusy(false);
}

void FakeDrive::writingAdvanced()
{
    ReleaseVariant *data = image();
    progress()->setValue(progress()->value() + stepBytes);
    if (!data) {
        finishWrite();
        return;
    }
    const double value = progress()->value();
    // Halved in whole bytes, as the simulation has always done.
    const double half = double(byteSize() / 2); // NOLINT(bugprone-integer-division)
    if (value >= size()) {
        qCDebug(MessageHandler::category) << metaObject()->className() << "Wrote" << rawName();
        finishWrite();
        data->setStatus(ReleaseVariant::FINISHED);
        Notifications::notify(QStringLiteral("Success"), QStringLiteral("Yes!"));
    } else if (rawName() == QLatin1String("Fails") && value >= half) {
        qCDebug(MessageHandler::category) << metaObject()->className() << "Writing to" << rawName() << "failed";
        finishWrite();
        data->setStatus(ReleaseVariant::FAILED);
        data->setErrorString(QStringLiteral("Some error string."));
        Notifications::notify(QStringLiteral("Failed"), QStringLiteral("FAILED"));
    } else if (rawName() == QLatin1String("Gets Disconnected") && value >= half) {
        qCDebug(MessageHandler::category) << metaObject()->className() << rawName() << "disconnected";
        finishWrite();
        FakeDriveProvider *owner = provider();
        emit owner->driveRemoved(this);
        QTimer::singleShot(owner->reconnectDelay(), owner, &FakeDriveProvider::createNewGetsDisconnected);
        deleteLater();
        data->setStatus(ReleaseVariant::FAILED);
        data->setErrorString(QStringLiteral("Drive %1 got disconnected.").arg(name()));
        Notifications::notify(QStringLiteral("Failed"), QStringLiteral("FAILED"));
    } else {
        m_writeTimer.start(provider()->writeStepInterval());
    }
}

void FakeDrive::cancel()
{
    const bool wasWriting = m_writeTimer.isActive();
    m_writeTimer.stop();
    m_restoreTimer.stop();
    setBusy(false);
    ReleaseVariant *data = image();
    if (wasWriting && data && data->status() == ReleaseVariant::WRITING) {
        data->setErrorString(QStringLiteral("Stopped before writing has finished."));
        data->setStatus(ReleaseVariant::FAILED);
    }
    Drive::cancel();
}

void FakeDrive::restore()
{
    if (isBusy())
        return;
    setBusy(true);
    qCDebug(MessageHandler::category) << metaObject()->className() << "Restoring" << rawName() << byteSize();
    announceRestoreStatus(RESTORING);
    m_restoreTimer.start(provider()->restoreDuration());
}

void FakeDrive::restoringFinished()
{
    setBusy(false);
    const RestoreStatus outcome = byteSize() % 2 == 1 ? RESTORE_ERROR : RESTORED;
    qCDebug(MessageHandler::category) << metaObject()->className() << "Restoring" << rawName() << byteSize()
                                      << "ended with" << outcome;
    announceRestoreStatus(outcome);
    m_removeTimer.start(provider()->removeAfterRestoreDelay());
}

void FakeDrive::selfdestruct()
{
    FakeDriveProvider *owner = provider();
    emit owner->driveRemoved(this);
    QTimer::singleShot(owner->newRestoreableDelay(), owner, &FakeDriveProvider::createNewRestoreable);
    deleteLater();
}
