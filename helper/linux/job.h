#pragma once

#include "helperprotocol.h"
#include "pagealignedbuffer.h"

#include <QDBusMessage>
#include <QDBusUnixFileDescriptor>
#include <QObject>
#include <QString>
#include <QTextStream>
#include <QVariantList>

#include <cstddef>

// The logical block size of the device behind fd; every transfer on an
// O_DIRECT descriptor must be a multiple of it. 512 when it cannot be asked.
std::size_t logicalBlockSize(int fd);

class Job : public QObject
{
    Q_OBJECT
public:
    explicit Job(const QString &device);
    Job(const QString &image, const QString &device);

    // Unmounts what lives on the target and has UDisks2 open the device for
    // writing. An invalid descriptor means the failure has been reported and
    // the exit status set. Virtual as the one seam between a job and UDisks2:
    // the fuzz target hands its job a file instead.
    virtual QDBusUnixFileDescriptor getDescriptor();

public slots:
    virtual void work() = 0;

protected:
    // A synchronous call of a UDisks2 method on the system bus; the reply or
    // the error. timeoutMs -1 is the bus's default (25 s).
    static QDBusMessage callUdisks(const QString &path, const QString &interface, const QString &method,
                                   const QVariantList &arguments = {}, int timeoutMs = -1);

    using ExitStatus = HelperProtocol::ExitStatus;

    // Writes the message to standard error at once and sets the exit status.
    void fail(const QString &message, ExitStatus status);
    // Asks the event loop to end the process with this status once the
    // current handler returns; the last status set within one handler wins.
    static void exitWith(ExitStatus status);

    QString m_image;
    QString m_device;
    QTextStream m_out;
    QTextStream m_err;
    QDBusUnixFileDescriptor m_fd;

private:
    // False when the object list could not be read or a filesystem stayed
    // mounted (reported, status 2).
    bool unmountFilesystems(const QString &drivePath);
};
