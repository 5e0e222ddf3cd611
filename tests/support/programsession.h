#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <QtGlobal>

// The real program of this build (<build>/bin/flashwright, which finds the
// helper beside it) in a window of its own on an Xvfb server of the test's
// own, driven by keyboard through xdotool as a person would, watched through
// its verbose log, and pictured with flashwright_windowgrab. The program
// talks to whatever buses DBUS_SYSTEM_BUS_ADDRESS and DBUS_SESSION_BUS_ADDRESS
// name when start() runs (normally PrivateBus objects started before), and
// lives in a home, runtime and configuration folder of its own.
class ProgramSession
{
public:
    ProgramSession();
    ~ProgramSession();

    ProgramSession(const ProgramSession &) = delete;
    ProgramSession &operator=(const ProgramSession &) = delete;

    // Empty when the session can run, otherwise why not (for QSKIP).
    [[nodiscard]] static QString unavailableReason();
    [[nodiscard]] static QString programPath();

    // Starts Xvfb (once), then the program with --verbose and the arguments,
    // and waits for its window.
    bool start(const QStringList &arguments);
    // Ends the program (Xvfb stays for the next start).
    void stop();
    [[nodiscard]] qint64 processId() const { return m_program.processId(); }

    [[nodiscard]] QString home() const { return m_dir.filePath(QStringLiteral("home")); }
    [[nodiscard]] QString downloads() const { return home() + QStringLiteral("/Downloads"); }
    [[nodiscard]] QString errorString() const { return m_errorString; }

    // Everything the program logged since start(); the tail for messages.
    [[nodiscard]] QByteArray log() const;
    [[nodiscard]] QByteArray logTail(qsizetype bytes = 3000) const { return log().right(bytes); }
    // Waits until a line of the log after byte `from` contains the text; the
    // offset just past that line, or -1 when it did not come in time or the
    // program ended first.
    qsizetype waitForLog(const QByteArray &text, int timeoutMs, qsizetype from = 0) const;
    // Waits for "Status of <file> now <status>" of any image after `from`.
    qsizetype waitForStatus(const QByteArray &status, int timeoutMs, qsizetype from = 0) const;
    // Image statuses logged after `from`, in order.
    [[nodiscard]] QList<QByteArray> statuses(qsizetype from = 0) const;

    // Presses the keys (xdotool names) in the window that has the keyboard,
    // each followed by time for the page to slide in and settle.
    bool keys(const QStringList &keys);
    // Gives the keyboard to the dialog that is up (a window of its own), as a
    // window manager would, presses the keys there and gives the keyboard
    // back to the main window.
    bool dialogKeys(const QStringList &keys);
    // Saves what the main window shows as a PNG.
    bool grab(const QString &file);

private:
    bool startDisplay();
    [[nodiscard]] QStringList visibleWindows() const;
    bool xdotool(const QStringList &arguments, QByteArray *output = nullptr) const;

    QTemporaryDir m_dir;
    QProcess m_display;
    QString m_displayName;
    QProcess m_program;
    QString m_window;
    mutable QByteArray m_log;
    QString m_errorString;
};
