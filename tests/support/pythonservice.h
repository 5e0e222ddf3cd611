#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

// A Python program run as a fake service for the tests. The distribution's
// interpreter is used: it carries python3-dbus, python3-gi and python3-dbusmock,
// which a python3 earlier on PATH (a virtual environment, pyenv) often lacks.
class PythonService
{
public:
    // `name` is what the error messages call the service.
    explicit PythonService(QString name);
    ~PythonService();

    PythonService(const PythonService &) = delete;
    PythonService &operator=(const PythonService &) = delete;

    [[nodiscard]] static QString interpreter();
    // Empty when the interpreter runs `code` cleanly (imports, typically),
    // else why not: "python3 is not installed" or `missing` (for QSKIP).
    [[nodiscard]] static QString unavailableReason(const QString &code, const QString &missing);

    // Starts the interpreter with the arguments and waits until it runs.
    bool start(const QStringList &arguments);
    // Terminates the service, and kills it when it does not end.
    void stop();

    [[nodiscard]] QProcess &process() { return m_process; }
    [[nodiscard]] QString errorString() const { return m_errorString; }

private:
    QString m_name;
    QProcess m_process;
    QString m_errorString;
};
