#pragma once

#include <QByteArray>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

// What a program run to its end left behind.
struct ProgramResult
{
    QByteArray standardOutput; // with standard error in it when the channels were merged
    QByteArray standardError;
    int exitCode = -1;
    QProcess::ExitStatus exitStatus = QProcess::CrashExit;
    // False when it did not start, or outlived its time-out and was killed.
    bool ended = false;
    QString errorString;

    // Ended normally with status 0.
    [[nodiscard]] bool succeeded() const { return ended && exitStatus == QProcess::NormalExit && exitCode == 0; }
    // The exit status, or -1 when the program did not end normally.
    [[nodiscard]] int status() const { return ended && exitStatus == QProcess::NormalExit ? exitCode : -1; }
    // Standard output split into lines, without the empty one after the last newline.
    [[nodiscard]] QStringList lines() const;
    // For failure messages: how it ended, and its standard error.
    [[nodiscard]] QString describe() const;
};

// A program run to its end with a time-out, after which it is killed, and
// with its output captured. Standard input is the null device unless a file
// or data is given. The setters chain:
//   ProgramRun(QStringLiteral("xz"), { ... }).input(data).run()
class ProgramRun
{
public:
    ProgramRun(const QString &program, const QStringList &arguments);

    ProgramRun &timeout(int milliseconds);
    ProgramRun &environment(const QProcessEnvironment &environment);
    ProgramRun &inputFile(const QString &path);
    ProgramRun &input(const QByteArray &data);
    ProgramRun &outputFile(const QString &path);
    ProgramRun &mergeChannels();

    ProgramResult run();

    // Waits for a started process to end, killing it at the time-out, and
    // collects what it wrote.
    static ProgramResult finish(QProcess &process, int timeoutMs);

private:
    QString m_program;
    QStringList m_arguments;
    int m_timeoutMs = 120000;
    QProcessEnvironment m_environment = QProcessEnvironment::systemEnvironment();
    QString m_inputFile;
    QByteArray m_input;
    bool m_hasInput = false;
    QString m_outputFile;
    bool m_merged = false;
};

// Waits until the running process holds an inotify watch (it waits for a
// file to change); false when it ended or the time ran out first.
bool waitForInotifyWatch(const QProcess &process, int timeoutMs = 20000);
