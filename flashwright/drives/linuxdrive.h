#pragma once

#include "drive.h"

#include <QProcess>
#include <QString>

class LinuxDriveProvider;

// A removable drive found through UDisks2. It never touches the device: a
// write or restore runs the helper program, whose standard output (one token
// a line: byte counts, "WRITE", "CHECK", "DONE"), standard error and exit
// status become the image's status, the progress and the restore status.
class LinuxDrive : public Drive
{
    Q_OBJECT

public:
    LinuxDrive(LinuxDriveProvider *parent, QString device, const QString &name, quint64 size, bool containsLive);
    ~LinuxDrive() override;

    Q_INVOKABLE bool write(ReleaseVariant *data) override;
    Q_INVOKABLE void cancel() override;
    Q_INVOKABLE void restore() override;

    // The UDisks2 object path of the whole-disk block device.
    [[nodiscard]] QString device() const { return m_device; }

    // The helper that a write or restore would start: the first executable
    // file among <app dir>/../helper/linux/helper, <app dir>/helper,
    // /usr/libexec/flashwright/helper and <configured libexec dir>/helper
    // (FLASHWRIGHT_LIBEXECDIR); empty when there is none.
    [[nodiscard]] static QString helperPath();

private slots:
    void onReadyRead();
    void onFinished(int exitCode, QProcess::ExitStatus status);
    void onRestoreFinished(int exitCode, QProcess::ExitStatus status);
    void onErrorOccurred(QProcess::ProcessError e);

private:
    [[nodiscard]] bool isHelperRunning() const;
    // Runs the helper for a write or a restore, on the process object of an
    // earlier attempt if there is one, and has it terminated when the
    // program quits.
    void startHelper(const QString &helper, const QStringList &arguments, bool restoring);
    // Reads the complete lines there are; at the end also what is left.
    void readOutput(bool atEnd);
    void handleLine(const QString &line);
    // The process goes with everything it may still send.
    void releaseProcess();
    // Refuses the write with a message on the image, failing it when the
    // write would have taken it over.
    void refuse(ReleaseVariant *data, const QString &message);
    void notifyFailure(ReleaseVariant *data);

    QString m_device;
    QProcess *m_process = nullptr;
    bool m_restoring = false;
    bool m_sawDone = false;
    // True while cancel() runs: the status changes it makes reach the pages
    // synchronously, and they may cancel again.
    bool m_beingCancelled = false;
};
