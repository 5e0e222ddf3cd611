#pragma once

#include <QByteArray>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <QtGlobal>

// The real program of this build (<build>/bin/flashwright, which finds the
// helper beside it) in a window of its own on an Xvfb server of the session's
// own, driven by keyboard through xdotool as a person would, watched through
// its verbose log (the lines waited on are in programlog.h), and pictured by
// flashwright_windowgrab. The program talks to whatever buses
// DBUS_SYSTEM_BUS_ADDRESS and DBUS_SESSION_BUS_ADDRESS name when start() runs
// (normally PrivateBus objects started before), and lives in a home, runtime,
// configuration and working folder of its own.
class ProgramSession
{
public:
    // What a key or a picture waits for. Moving: after a key the time a page
    // takes to slide in, a picture as the window is (for a page that never
    // comes to rest, such as a running progress bar). AtRest: until the
    // window has shown something else than before the key (at most two
    // seconds), and until it has stayed the same for a moment.
    enum class Settle { Moving, AtRest };

    ProgramSession();
    ~ProgramSession();

    ProgramSession(const ProgramSession &) = delete;
    ProgramSession &operator=(const ProgramSession &) = delete;

    // Empty when the session can run, otherwise why not (for QSKIP).
    [[nodiscard]] static QString unavailableReason();
    [[nodiscard]] static QString programPath();

    // Starts Xvfb and the picture taker (once), then the program with
    // --verbose and the arguments, its environment amended by the given one,
    // and waits for its window.
    bool start(const QStringList &arguments, const QProcessEnvironment &environment = {});
    // Ends the program (Xvfb stays for the next start).
    void stop();
    [[nodiscard]] qint64 processId() const { return m_program.processId(); }

    [[nodiscard]] QString home() const { return m_dir.filePath(QStringLiteral("home")); }
    [[nodiscard]] QString downloads() const { return home() + QStringLiteral("/Downloads"); }
    [[nodiscard]] QString configFolder() const { return m_dir.filePath(QStringLiteral("config")); }
    [[nodiscard]] QString workFolder() const { return m_dir.filePath(QStringLiteral("work")); }
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
    // each followed by a wait for the window to settle.
    bool keys(const QStringList &keys, Settle settle = Settle::Moving);
    // Waits for the dialog that is up (a window of its own) and gives it the
    // keyboard, as a window manager would.
    bool showDialog();
    // Presses the keys in the dialog (found first unless showDialog() did)
    // and gives the keyboard back to the main window.
    bool dialogKeys(const QStringList &keys);
    // Saves what the main window shows (with a dialog over it) as a PNG.
    bool grab(const QString &file, Settle settle = Settle::Moving);

private:
    bool startDisplay();
    [[nodiscard]] QStringList visibleWindows() const;
    bool xdotool(const QStringList &arguments, QByteArray *output = nullptr) const;
    // One command to the picture taker (flashwright_windowgrab --serve), its answer.
    QByteArray picture(const QString &command);

    QTemporaryDir m_dir;
    QProcess m_display;
    QString m_displayName;
    QProcess m_pictures;
    QProcess m_program;
    QString m_window;
    QString m_dialog;
    mutable QByteArray m_log;
    QString m_errorString;
};
