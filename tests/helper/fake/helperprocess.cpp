#include "helperprocess.h"

#include "buildpaths.h"
#include "programrun.h"

#include <QDeadlineTimer>
#include <QProcessEnvironment>

HelperProcess::HelperProcess(QObject *parent)
    : QProcess(parent)
{
    setProgram(BuildPaths::helper());
    setProcessChannelMode(QProcess::SeparateChannels);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("LANG"), QStringLiteral("C"));
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
    environment.remove(QStringLiteral("LANGUAGE"));
    // A developer's logging rules would add lines to the standard error compared here.
    environment.remove(QStringLiteral("QT_LOGGING_RULES"));
    environment.remove(QStringLiteral("QT_MESSAGE_PATTERN"));
    setProcessEnvironment(environment);
}

bool HelperProcess::run(const QStringList &arguments, int timeoutMs)
{
    return launch(arguments) && finish(timeoutMs);
}

bool HelperProcess::launch(const QStringList &arguments)
{
    m_output.clear();
    m_errors.clear();
    m_failure.clear();
    setArguments(arguments);
    start();
    if (!waitForStarted(10000)) {
        m_failure = QStringLiteral("the helper did not start: ") + errorString();
        return false;
    }
    return true;
}

bool HelperProcess::finish(int timeoutMs)
{
    const ProgramResult result = ProgramRun::finish(*this, timeoutMs);
    m_output += result.standardOutput;
    m_errors += result.standardError;
    if (!result.ended)
        m_failure = QStringLiteral("the helper did not end in time; stdout: ") + QString::fromUtf8(m_output);
    else if (result.exitStatus != QProcess::NormalExit)
        m_failure = QStringLiteral("the helper crashed; stderr: ") + QString::fromUtf8(m_errors);
    return result.ended && result.exitStatus == QProcess::NormalExit;
}

bool HelperProcess::waitForLine(const QByteArray &line, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        while (canReadLine()) {
            const QByteArray read = readLine();
            m_output += read;
            if (read.chopped(read.endsWith('\n') ? 1 : 0) == line)
                return true;
        }
        if (state() != QProcess::Running || deadline.hasExpired())
            return false;
        waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())));
    }
}

QList<QByteArray> HelperProcess::outputLines() const
{
    QList<QByteArray> lines = m_output.split('\n');
    if (!lines.isEmpty() && lines.constLast().isEmpty())
        lines.removeLast();
    return lines;
}
