#include "pythonservice.h"

#include <QFileInfo>
#include <QStandardPaths>

#include <utility>

PythonService::PythonService(QString name)
    : m_name(std::move(name))
{ }

PythonService::~PythonService()
{
    stop();
}

QString PythonService::interpreter()
{
    if (QFileInfo::exists(QStringLiteral("/usr/bin/python3")))
        return QStringLiteral("/usr/bin/python3");
    return QStandardPaths::findExecutable(QStringLiteral("python3"));
}

QString PythonService::unavailableReason(const QString &code, const QString &missing)
{
    const QString program = interpreter();
    if (program.isEmpty())
        return QStringLiteral("python3 is not installed");
    QProcess probe;
    probe.start(program, { QStringLiteral("-c"), code });
    if (!probe.waitForFinished(30000) || probe.exitStatus() != QProcess::NormalExit || probe.exitCode() != 0)
        return missing;
    return {};
}

bool PythonService::start(const QStringList &arguments)
{
    m_errorString.clear();
    m_process.start(interpreter(), arguments);
    if (!m_process.waitForStarted(10000)) {
        m_errorString = m_name + QStringLiteral(" did not start: ") + m_process.errorString();
        return false;
    }
    return true;
}

void PythonService::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(5000)) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}
