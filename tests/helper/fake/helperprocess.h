#pragma once

#include <QByteArray>
#include <QProcess>
#include <QStringList>

// The built helper program, started with a pinned C locale and the
// environment of the test (so DBUS_SYSTEM_BUS_ADDRESS names the private bus).
class HelperProcess : public QProcess
{
public:
    explicit HelperProcess(QObject *parent = nullptr);

    // Starts the helper and runs it to its end; false when it did not start,
    // crashed or outlived the time-out (it is killed then).
    bool run(const QStringList &arguments, int timeoutMs = 60000);
    bool launch(const QStringList &arguments);
    bool finish(int timeoutMs = 60000);
    // Reads standard output (kept for output()) until the helper has printed
    // the line; false when it ended or the time ran out first.
    bool waitForLine(const QByteArray &line, int timeoutMs = 60000);

    [[nodiscard]] QByteArray output() const { return m_output; }
    [[nodiscard]] QByteArray errors() const { return m_errors; }
    [[nodiscard]] QList<QByteArray> outputLines() const;
    [[nodiscard]] QString failure() const { return m_failure; }

private:
    QByteArray m_output;
    QByteArray m_errors;
    QString m_failure;
};
