#pragma once

#include "drive.h"

#include <QTimer>

class FakeDriveProvider;

// A simulated drive: writing advances 123456789 bytes every step (100 ms unless
// the provider says otherwise) and ends as its name says ("Okay", "Fails",
// "Gets Disconnected"); restoring takes 5 s and ends by the parity of its size.
// No device is ever touched.
class FakeDrive : public Drive
{
    Q_OBJECT

public:
    FakeDrive(FakeDriveProvider *parent, const QString &name, quint64 size, bool containsLive);

    Q_INVOKABLE bool write(ReleaseVariant *data) override;
    // Stops a simulated write or restore, as stopping the helper would.
    Q_INVOKABLE void cancel() override;
    Q_INVOKABLE void restore() override;

private slots:
    void writingAdvanced();
    void restoringFinished();
    void selfdestruct();

private:
    [[nodiscard]] FakeDriveProvider *provider() const;
    void finishWrite();

    // Children of the drive, so nothing fires once it is gone.
    QTimer m_writeTimer;
    QTimer m_restoreTimer;
    QTimer m_removeTimer;
};
