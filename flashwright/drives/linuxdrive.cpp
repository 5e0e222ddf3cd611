#include "linuxdrive.h"

#include "helperprotocol.h"
#include "installpaths.h"
#include "linuxdriveprovider.h"
#include "messagehandler.h"
#include "notifications.h"
#include "progress.h"
#include "releasevariant.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <utility>

using HelperExit = HelperProtocol::ExitStatus;

LinuxDrive::LinuxDrive(LinuxDriveProvider *parent, QString device, const QString &name, quint64 size, bool containsLive)
    : Drive(parent, name, size, containsLive)
    , m_device(std::move(device))
{ }

LinuxDrive::~LinuxDrive()
{
    ReleaseVariant *data = image();
    // Only a write of this drive: the image may since have gone to another one.
    if (data && isHelperRunning()
        && (data->status() == ReleaseVariant::WRITING || data->status() == ReleaseVariant::WRITE_VERIFYING)) {
        data->setErrorString(tr("The drive was removed while it was written to."));
        data->setStatus(ReleaseVariant::FAILED);
        // Told like every other failed write: the user may be away from the
        // window, waiting for the notification of the end.
        notifyFailure(data);
    }
    releaseProcess();
}

QString LinuxDrive::helperPath()
{
    const QString appDir = QCoreApplication::applicationDirPath();
    // Last the folder this build installs its helper to: an installation
    // under another prefix than /usr (say /usr/local) is found there.
    const QStringList candidates {
        appDir + QStringLiteral("/../helper/linux/helper"), appDir + QStringLiteral("/helper"),
        QStringLiteral("%1/%2").arg(QStringLiteral("/usr/libexec/flashwright"), QStringLiteral("helper")),
        QStringLiteral("%1/%2").arg(QStringLiteral(FLASHWRIGHT_LIBEXECDIR), QStringLiteral("helper"))
    };
    for (const QString &candidate : candidates) {
        // A directory or a file that cannot be run would only fail later,
        // after the image had been taken over.
        const QFileInfo info(candidate);
        if (info.isFile() && info.isExecutable())
            return candidate;
    }
    return {};
}

bool LinuxDrive::isHelperRunning() const
{
    return m_process && m_process->state() != QProcess::NotRunning;
}

void LinuxDrive::refuse(ReleaseVariant *data, const QString &message)
{
    qCWarning(MessageHandler::category) << metaObject()->className() << "Not writing:" << message;
    data->setErrorString(message);
    if (isWritable(data->status()))
        data->setStatus(ReleaseVariant::FAILED);
    clearDelayedWrite();
}

bool LinuxDrive::write(ReleaseVariant *data)
{
    qCDebug(MessageHandler::category) << metaObject()->className() << "Will now write"
                                      << (data ? data->iso() : QString()) << "to" << m_device;
    if (isHelperRunning()) {
        // A second helper on the same drive would write over the first.
        qCWarning(MessageHandler::category) << metaObject()->className() << "A helper is still running for" << m_device;
        return false;
    }
    if (!Drive::write(data))
        return false;

    if (data->status() == ReleaseVariant::WRITING_NOT_POSSIBLE) {
        // The image says so itself: no drive can be trusted to be listed right.
        qCWarning(MessageHandler::category) << metaObject()->className() << "Not writing: the back end is broken";
        return false;
    }
    // A finished image is written from its file; one still downloading from
    // its part file, which the helper watches until the download is done.
    const bool takesOver = isWritable(data->status());
    const QString path = takesOver ? data->iso() : data->temporaryPath();
    if (path.isEmpty()) {
        refuse(data, tr("There is no image file to write."));
        return false;
    }
    if (takesOver && path.endsWith(QLatin1String(".part"))) {
        // The helper would take it for a download still running and wait for ever.
        refuse(data,
               tr("The image file name ends in \".part\", which marks an unfinished download. "
                  "Rename the file if it is complete, and choose it again."));
        return false;
    }
    if (takesOver)
        data->setStatus(ReleaseVariant::WRITING);

    const QString helper = helperPath();
    if (helper.isEmpty()) {
        data->setErrorString(tr("Could not find the helper binary. Check your installation."));
        data->setStatus(ReleaseVariant::FAILED);
        // Nothing was started, so there is nothing for cancel() to stop.
        clearDelayedWrite();
        return false;
    }

    const QStringList arguments { QStringLiteral("write"), path, m_device };
    qCDebug(MessageHandler::category) << metaObject()->className() << "Helper command will be" << arguments;
    startHelper(helper, arguments, false);
    return true;
}

void LinuxDrive::startHelper(const QString &helper, const QStringList &arguments, bool restoring)
{
    if (!m_process)
        m_process = new QProcess(this);
    // A process object left from an earlier attempt is reused; it must not
    // report to the handlers of that attempt as well.
    m_process->disconnect(this);
    m_process->setProgram(helper);
    m_process->setArguments(arguments);
    m_process->setReadChannel(QProcess::StandardOutput);
    if (restoring) {
        // The restore job prints nothing on standard output.
        connect(m_process, &QProcess::finished, this, &LinuxDrive::onRestoreFinished);
    } else {
        connect(m_process, &QProcess::readyReadStandardOutput, this, &LinuxDrive::onReadyRead);
        connect(m_process, &QProcess::finished, this, &LinuxDrive::onFinished);
    }
    // Also for a restore: a helper that exists but cannot run would otherwise
    // leave the drive restoring for ever.
    connect(m_process, &QProcess::errorOccurred, this, &LinuxDrive::onErrorOccurred);
    connect(qApp, &QCoreApplication::aboutToQuit, m_process, &QProcess::terminate, Qt::UniqueConnection);
    m_restoring = restoring;
    m_sawDone = false;
    setBusy(true);
    m_process->start(QIODevice::ReadOnly);
}

void LinuxDrive::onReadyRead()
{
    readOutput(false);
}

void LinuxDrive::readOutput(bool atEnd)
{
    if (!m_process)
        return;
    // Whole lines only: a token cut in two by the pipe ("DO", "NE") would be
    // lost, and a count cut in two would read as a smaller one.
    if (!m_process->canReadLine() && !(atEnd && m_process->bytesAvailable() > 0))
        return;
    ReleaseVariant *data = image();
    // "DONE" is the helper's last word: whatever follows it must neither take
    // a verified image back to writing nor leave it there when the helper ends.
    if (!data || m_sawDone) {
        const QByteArray rest = m_process->readAll();
        if (data && !rest.trimmed().isEmpty())
            qCWarning(MessageHandler::category)
                << metaObject()->className() << "Ignoring the helper's output after DONE:" << rest;
        return;
    }
    progress()->setTo(double(data->size()));
    if (data->status() != ReleaseVariant::WRITING && data->status() != ReleaseVariant::WRITE_VERIFYING)
        data->setStatus(ReleaseVariant::WRITING);

    while (m_process && !m_sawDone && (m_process->canReadLine() || (atEnd && m_process->bytesAvailable() > 0)))
        handleLine(QString::fromUtf8(m_process->readLine().trimmed()));
    if (m_sawDone)
        readOutput(atEnd);
}

void LinuxDrive::handleLine(const QString &line)
{
    ReleaseVariant *data = image();
    if (!data)
        return;
    if (line == QLatin1String(HelperProtocol::Check)) {
        qCDebug(MessageHandler::category)
            << metaObject()->className() << "Helper finished writing, now it will check the written data";
        progress()->setValue(0);
        data->setStatus(ReleaseVariant::WRITE_VERIFYING);
    } else if (line == QLatin1String(HelperProtocol::Write)) {
        progress()->setValue(0);
        data->setStatus(ReleaseVariant::WRITING);
    } else if (line == QLatin1String(HelperProtocol::Done)) {
        m_sawDone = true;
        progress()->setValue(data->size());
        data->setStatus(ReleaseVariant::FINISHED);
        Notifications::notify(tr("Finished!"), tr("Writing %1 was successful").arg(data->fullName()));
    } else {
        bool ok = false;
        const qulonglong bytes = line.toULongLong(&ok);
        if (ok && bytes > 0)
            progress()->setValue(double(bytes));
    }
}

void LinuxDrive::notifyFailure(ReleaseVariant *data)
{
    Notifications::notify(tr("Error"), tr("Writing %1 failed").arg(data ? data->fullName() : QString()));
}

void LinuxDrive::onFinished(int exitCode, QProcess::ExitStatus status)
{
    qCDebug(MessageHandler::category) << metaObject()->className() << "Helper process finished with status" << status;
    clearDelayedWrite();
    if (!m_process)
        return;
    readOutput(true);

    ReleaseVariant *data = image();
    const bool writing
        = data && (data->status() == ReleaseVariant::WRITING || data->status() == ReleaseVariant::WRITE_VERIFYING);
    const auto result = HelperExit(exitCode);
    if (result != HelperExit::Success && m_sawDone) {
        // Verified is verified, as after a crash past "DONE": the user was
        // told of success and the data on the drive is the image.
        qCWarning(MessageHandler::category) << metaObject()->className() << "The helper ended with status" << exitCode
                                            << "after DONE:" << m_process->readAllStandardError();
    } else if (result != HelperExit::Success) {
        QString errors = QString::fromUtf8(m_process->readAllStandardError()).trimmed();
        qCWarning(MessageHandler::category) << "Writing failed:" << errors;
        notifyFailure(data);
        if (errors.isEmpty())
            errors = tr("The helper program ended with status %1.").arg(exitCode);
        if (writing) {
            // This status after "CHECK" is the verification's verdict: the
            // data on the drive does not match the image.
            const bool corrupt
                = data->status() == ReleaseVariant::WRITE_VERIFYING && result == HelperExit::VerificationFailed;
            data->setErrorString(errors);
            data->setStatus(corrupt ? ReleaseVariant::FAILED_VERIFICATION : ReleaseVariant::FAILED);
        }
    } else if (writing && !m_sawDone) {
        // Success is only what the helper confirmed with "DONE".
        qCWarning(MessageHandler::category) << "Writing failed: the helper ended without DONE";
        notifyFailure(data);
        data->setErrorString(tr("The helper program ended without confirming that the image was written."));
        data->setStatus(ReleaseVariant::FAILED);
    }
    releaseProcess();
    setImagePointer(nullptr);
}

void LinuxDrive::onErrorOccurred(QProcess::ProcessError e)
{
    if (!m_process)
        return;
    // Read and write errors leave the helper running; its end decides.
    if (e != QProcess::FailedToStart && e != QProcess::Crashed) {
        qCWarning(MessageHandler::category)
            << metaObject()->className() << "Helper process error:" << m_process->errorString();
        return;
    }
    const QString message = m_process->errorString();
    if (m_restoring) {
        qCWarning(MessageHandler::category) << "Restoring failed:" << message;
        releaseProcess();
        announceRestoreStatus(RESTORE_ERROR);
        return;
    }
    // What the helper printed before it died is still in the pipe; its last
    // line may lack the line feed. Read it as a normal end would, so that a
    // "DONE" it managed to print counts.
    if (e == QProcess::Crashed)
        readOutput(true);
    qCWarning(MessageHandler::category) << "Writing failed:" << message;
    ReleaseVariant *data = image();
    // After "DONE" the written data has been verified; an untidy end of
    // the helper does not undo that.
    const bool failed = data && !m_sawDone;
    if (failed)
        data->setErrorString(message);
    releaseProcess();
    if (failed)
        data->setStatus(ReleaseVariant::FAILED);
    setImagePointer(nullptr);
}

void LinuxDrive::cancel()
{
    Drive::cancel();
    if (!m_process || m_beingCancelled)
        return;
    m_beingCancelled = true;

    ReleaseVariant *data = image();
    if (data && isHelperRunning() && !m_restoring) {
        const auto status = data->status();
        if (status == ReleaseVariant::WRITE_VERIFYING) {
            // Finished means verified: what was not checked may be anything,
            // and a download deleted after "writing" would be gone for good.
            data->setErrorString(tr("Verification was cancelled: the drive holds the image, but it was not checked."));
            data->setStatus(ReleaseVariant::FAILED);
        } else if (status != ReleaseVariant::DOWNLOADING && status != ReleaseVariant::DOWNLOAD_VERIFYING
                   && status != ReleaseVariant::FINISHED) {
            data->setErrorString(tr("Stopped before writing has finished."));
            data->setStatus(ReleaseVariant::FAILED);
        }
    }
    releaseProcess();
    m_beingCancelled = false;
}

void LinuxDrive::restore()
{
    qCInfo(MessageHandler::category) << metaObject()->className() << "Will now restore" << m_device;
    if (isHelperRunning()) {
        qCWarning(MessageHandler::category) << metaObject()->className() << "A helper is still running for" << m_device;
        return;
    }
    announceRestoreStatus(RESTORING);

    const QString helper = helperPath();
    if (helper.isEmpty()) {
        qCInfo(MessageHandler::category) << "Couldn't find the helper binary.";
        setRestoreStatus(RESTORE_ERROR);
        return;
    }
    const QStringList arguments { QStringLiteral("restore"), m_device };
    qCInfo(MessageHandler::category) << m_device;
    qCInfo(MessageHandler::category) << metaObject()->className() << "Helper command will be" << arguments;
    startHelper(helper, arguments, true);
}

void LinuxDrive::onRestoreFinished(int exitCode, QProcess::ExitStatus status)
{
    qCDebug(MessageHandler::category) << metaObject()->className() << "Helper process finished with status" << status;
    RestoreStatus result = RESTORED;
    if (HelperExit(exitCode) != HelperExit::Success) {
        result = RESTORE_ERROR;
        if (m_process)
            qCWarning(MessageHandler::category) << "Drive restoration failed:" << m_process->readAllStandardError();
        else
            qCWarning(MessageHandler::category) << "Drive restoration failed";
    }
    releaseProcess();
    announceRestoreStatus(result);
}

void LinuxDrive::releaseProcess()
{
    if (!m_process)
        return;
    QProcess *process = std::exchange(m_process, nullptr);
    process->disconnect(this);
    if (process->state() == QProcess::NotRunning) {
        process->deleteLater();
    } else {
        // It goes once it has ended, which after the kill is at once, unless
        // it is stuck in the kernel on a slow stick: deleting it now would
        // wait for that, and the window with it. It may outlive the drive.
        process->setParent(nullptr);
        connect(process, &QProcess::finished, process, &QObject::deleteLater);
        connect(process, &QProcess::errorOccurred, process, [process](QProcess::ProcessError e) {
            if (e == QProcess::FailedToStart)
                process->deleteLater();
        });
        process->kill();
    }
    setBusy(false);
}
