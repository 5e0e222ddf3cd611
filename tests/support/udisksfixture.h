#pragma once

#include "programrun.h"

#include <QByteArray>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <QtGlobal>

// The test side of udisks-fixture.sh: the bus address of the real udisksd
// that ctest's fixture started, loop devices over backing files on disk
// (O_DIRECT needs a real filesystem below them), mounts, and runs of the
// helper program against that daemon. Everything attached or mounted is
// recorded in the state folder, so the fixture's cleanup can undo it after a
// test crashed; the destructor undoes it after a normal end.
class UdisksFixture
{
public:
    struct LoopDevice
    {
        QString node; // /dev/loopN
        QString objectPath; // /org/freedesktop/UDisks2/block_devices/loopN
        QString backingFile;
        [[nodiscard]] bool isValid() const { return !node.isEmpty(); }
        [[nodiscard]] QString partitionNode(int number) const
        {
            return node + QLatin1Char('p') + QString::number(number);
        }
        [[nodiscard]] QString partitionObjectPath(int number) const
        {
            return objectPath + QLatin1Char('p') + QString::number(number);
        }
    };

    using Result = ProgramResult;

    UdisksFixture();
    ~UdisksFixture();

    UdisksFixture(const UdisksFixture &) = delete;
    UdisksFixture &operator=(const UdisksFixture &) = delete;

    // Empty when the daemon runs; otherwise why the tests must skip.
    [[nodiscard]] QString skipReason() const { return m_skipReason; }
    [[nodiscard]] QString busAddress() const { return m_busAddress; }
    [[nodiscard]] QString stateDir() const { return m_stateDir; }
    [[nodiscard]] QString errorString() const { return m_errorString; }

    // A scratch folder on disk for images, inside the state folder.
    [[nodiscard]] QString scratchDir() const;

    // A loop device over a new sparse file of size bytes, once udisksd shows it.
    LoopDevice attach(qint64 size);
    // The same over an existing file, which detach() then also removes.
    LoopDevice attachFile(const QString &backingFile);
    bool detach(const LoopDevice &device);

    // Adds the partitions of the table on the device to the kernel (it parses
    // none itself here) and waits until udisksd shows each of them.
    bool addPartitions(const LoopDevice &device, int count);

    // Mounts node on a new folder and waits until udisksd reports the mount.
    QString mount(const QString &node, const QString &objectPath);
    [[nodiscard]] static bool isMounted(const QString &mountPoint);

    // Waits until the object exists in udisksd with the Block interface.
    bool waitForObject(const QString &objectPath);

    // The environment that points the helper at the private bus and pins
    // its language.
    [[nodiscard]] QProcessEnvironment helperEnvironment() const;
    Result runHelper(const QStringList &arguments, int timeoutMs = 120000) const;

    // Runs a command to its end; false (with errorString()) unless it exits 0.
    bool run(const QString &program, const QStringList &arguments, QByteArray *output = nullptr);

    [[nodiscard]] static QByteArray readDevice(const QString &node, qint64 offset, qint64 size);
    static bool writeDevice(const QString &node, qint64 offset, const QByteArray &data);

private:
    bool udisksProperty(const QString &objectPath, const QString &interface, const QString &property,
                        QByteArray *value);
    void record(const QString &file, const QString &line);
    void forget(const QString &file, const QString &line);

    QString m_stateDir;
    QString m_busAddress;
    QString m_skipReason;
    QString m_errorString;
    QList<LoopDevice> m_devices;
    QStringList m_mounts;
};
