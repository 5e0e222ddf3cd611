#include "programrun.h"

#include <QDir>
#include <QFile>
#include <QTest>

QStringList ProgramResult::lines() const
{
    QStringList result = QString::fromUtf8(standardOutput).split(QLatin1Char('\n'));
    if (!result.isEmpty() && result.constLast().isEmpty())
        result.removeLast();
    return result;
}

QString ProgramResult::describe() const
{
    const QString how = !ended               ? QStringLiteral("did not end (%1)").arg(errorString)
        : exitStatus != QProcess::NormalExit ? QStringLiteral("crashed")
                                             : QStringLiteral("exited with %1").arg(exitCode);
    return how + QStringLiteral(": ") + QString::fromLocal8Bit(standardError);
}

ProgramRun::ProgramRun(const QString &program, const QStringList &arguments)
    : m_program(program)
    , m_arguments(arguments)
{ }

ProgramRun &ProgramRun::timeout(int milliseconds)
{
    m_timeoutMs = milliseconds;
    return *this;
}

ProgramRun &ProgramRun::environment(const QProcessEnvironment &environment)
{
    m_environment = environment;
    return *this;
}

ProgramRun &ProgramRun::inputFile(const QString &path)
{
    m_inputFile = path;
    return *this;
}

ProgramRun &ProgramRun::input(const QByteArray &data)
{
    m_input = data;
    m_hasInput = true;
    return *this;
}

ProgramRun &ProgramRun::outputFile(const QString &path)
{
    m_outputFile = path;
    return *this;
}

ProgramRun &ProgramRun::mergeChannels()
{
    m_merged = true;
    return *this;
}

ProgramResult ProgramRun::run()
{
    QProcess process;
    process.setProcessEnvironment(m_environment);
    process.setProcessChannelMode(m_merged ? QProcess::MergedChannels : QProcess::SeparateChannels);
    if (!m_hasInput)
        process.setStandardInputFile(m_inputFile.isEmpty() ? QProcess::nullDevice() : m_inputFile);
    if (!m_outputFile.isEmpty())
        process.setStandardOutputFile(m_outputFile, QIODevice::Truncate);
    process.start(m_program, m_arguments);
    if (m_hasInput && process.waitForStarted()) {
        process.write(m_input);
        process.closeWriteChannel();
    }
    return finish(process, m_timeoutMs);
}

ProgramResult ProgramRun::finish(QProcess &process, int timeoutMs)
{
    ProgramResult result;
    // QProcess keeps reading while it waits, so a talkative program cannot
    // block on a full pipe. One that ended before this call counts as ended.
    process.waitForFinished(timeoutMs);
    result.ended = process.state() == QProcess::NotRunning && process.error() != QProcess::FailedToStart;
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished();
    }
    result.standardOutput = process.readAllStandardOutput();
    if (process.processChannelMode() != QProcess::MergedChannels)
        result.standardError = process.readAllStandardError();
    result.errorString = process.errorString();
    result.exitCode = process.exitCode();
    result.exitStatus = process.exitStatus();
    return result;
}

bool waitForInotifyWatch(const QProcess &process, int timeoutMs)
{
    const QString fdinfo = QStringLiteral("/proc/%1/fdinfo").arg(process.processId());
    const auto watching = [&] {
        const QStringList entries = QDir(fdinfo).entryList(QDir::Files);
        for (const QString &entry : entries) {
            QFile info(fdinfo + QLatin1Char('/') + entry);
            if (info.open(QIODevice::ReadOnly) && info.readAll().contains("inotify wd:"))
                return true;
        }
        return false;
    };
    return QTest::qWaitFor([&] { return process.state() != QProcess::Running || watching(); }, timeoutMs)
        && process.state() == QProcess::Running;
}
