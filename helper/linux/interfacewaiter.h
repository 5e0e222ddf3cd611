#pragma once

#include <QEventLoop>
#include <QObject>
#include <QString>

class QDBusMessage;

// Waits until a UDisks2 object carries an interface. UDisks2 answers a
// Format or CreatePartition once the work is done, but puts the interfaces
// of the result on its objects only when udev has reported the change,
// which can come later: a call on the new interface made at once may find
// it missing.
class InterfaceWaiter : public QObject
{
    Q_OBJECT
public:
    InterfaceWaiter(const QString &path, const QString &interface);

    // True once the object has the interface, at once when it has it already;
    // false when timeoutMs passes first. Runs the event loop meanwhile.
    bool wait(int timeoutMs);

private slots:
    void onInterfacesAdded(const QDBusMessage &message);

private:
    [[nodiscard]] bool isPresent() const;

    const QString m_path;
    const QString m_interface;
    QEventLoop m_loop;
    bool m_found = false;
};
