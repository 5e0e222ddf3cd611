#include "programsession.h"

#include "buildpaths.h"
#include "programlog.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcessEnvironment>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTest>

namespace {

// Time for a page to slide in and take the keyboard after a key.
constexpr int settleMs = 350;

QString buildFile(const QString &relative)
{
    return QStringLiteral(FLASHWRIGHT_BUILD_DIR "/") + relative;
}

} // namespace

ProgramSession::ProgramSession() = default;

ProgramSession::~ProgramSession()
{
    stop();
    m_pictures.kill();
    m_pictures.waitForFinished();
    if (m_display.state() != QProcess::NotRunning) {
        m_display.terminate();
        if (!m_display.waitForFinished(5000)) {
            m_display.kill();
            m_display.waitForFinished();
        }
    }
}

QString ProgramSession::programPath()
{
    return buildFile(QStringLiteral("bin/flashwright"));
}

QString ProgramSession::unavailableReason()
{
    for (const char *tool : { "Xvfb", "xdotool" }) {
        if (QStandardPaths::findExecutable(QLatin1String(tool)).isEmpty())
            return QStringLiteral("%1 is not installed (scripts/install-deps.sh)").arg(QLatin1String(tool));
    }
    for (const QString &binary :
         { programPath(), BuildPaths::helper(), buildFile(QStringLiteral("bin/flashwright_windowgrab")) }) {
        if (!QFileInfo(binary).isExecutable())
            return QStringLiteral("%1 is not built").arg(binary);
    }
    return {};
}

bool ProgramSession::startDisplay()
{
    if (m_display.state() == QProcess::Running)
        return true;
    if (!m_dir.isValid()) {
        m_errorString = QStringLiteral("no temporary folder");
        return false;
    }
    // Xvfb's own choice of a free display (-displayfd alone) takes the
    // lowest free number, and two servers that start at the same moment (of
    // other test runs on this machine) can both take it, each with part of
    // its sockets: a client may then reach the other one. A number picked at
    // random far above where those start avoids that; a taken one makes
    // Xvfb end at once, and the next is tried. Xvfb writes the number on the
    // descriptor once it accepts clients. Larger than the window, and
    // without a window manager.
    //
    // -noreset: by default an X server resets itself when its last client
    // leaves, and kills every connection that has not finished its set-up by
    // then. A desktop always has clients; here the only others are the short
    // xdotool runs that look for the window, so the program's connection,
    // made just as one of them left, was cut now and then, and Qt gave up
    // with "could not initialize a platform plug-in".
    const QString displayFile = m_dir.filePath(QStringLiteral("display"));
    m_displayName.clear();
    for (int attempt = 0; attempt < 20; ++attempt) {
        QFile::remove(displayFile);
        const int number = 200 + int(QRandomGenerator::global()->bounded(700));
        m_display.start(QStringLiteral("bash"),
                        { QStringLiteral("-c"),
                          QStringLiteral("exec Xvfb :%1 -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset "
                                         "3>\"$1\" 2>\"$2\"")
                              .arg(number),
                          QStringLiteral("xvfb"), displayFile, m_dir.filePath(QStringLiteral("xvfb.log")) });
        const bool timedOut = !QTest::qWaitFor(
            [&] { return QFileInfo(displayFile).size() > 0 || m_display.state() == QProcess::NotRunning; }, 20000);
        if (!timedOut && m_display.state() == QProcess::Running) {
            m_displayName = QStringLiteral(":%1").arg(number);
            break;
        }
        m_display.kill();
        m_display.waitForFinished();
    }
    if (m_displayName.isEmpty()) {
        m_errorString = QStringLiteral("Xvfb did not start");
        return false;
    }
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), m_displayName);
    m_pictures.kill();
    m_pictures.waitForFinished();
    m_pictures.setProcessEnvironment(environment);
    m_pictures.setReadChannel(QProcess::StandardOutput);
    m_pictures.start(buildFile(QStringLiteral("bin/flashwright_windowgrab")), { QStringLiteral("--serve") });
    m_pictures.waitForStarted();
    const QByteArray hello = picture(QStringLiteral("hello"));
    if (hello != "ready")
        m_errorString = QStringLiteral("the picture taker did not start: ") + QString::fromUtf8(hello);
    return hello == "ready";
}

bool ProgramSession::start(const QStringList &arguments, const QProcessEnvironment &amended)
{
    stop();
    if (!startDisplay())
        return false;
    for (const QString &folder :
         { downloads(), m_dir.filePath(QStringLiteral("runtime")), configFolder(), workFolder() }) {
        if (!QDir().mkpath(folder)) {
            m_errorString = QStringLiteral("cannot make ") + folder;
            return false;
        }
    }
    QFile::setPermissions(m_dir.filePath(QStringLiteral("runtime")),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *name : { "LANGUAGE", "LC_MESSAGES", "XDG_CURRENT_DESKTOP", "XDG_DOWNLOAD_DIR", "SNAP",
                              "QT_QPA_PLATFORMTHEME", "SESSION_MANAGER" })
        environment.remove(QLatin1String(name));
    environment.insert(QStringLiteral("DISPLAY"), m_displayName);
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    environment.insert(QStringLiteral("HOME"), home());
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_dir.filePath(QStringLiteral("runtime")));
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), configFolder());
    environment.insert(QStringLiteral("LANG"), QStringLiteral("C.UTF-8"));
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    for (const QString &name : amended.keys())
        environment.insert(name, amended.value(name));
    m_program.setProcessEnvironment(environment);
    m_program.setWorkingDirectory(workFolder());
    m_program.setStandardInputFile(QProcess::nullDevice());
    m_program.setStandardOutputFile(QProcess::nullDevice());
    m_log.clear();
    m_program.setStandardErrorFile(m_dir.filePath(QStringLiteral("program.log")));
    m_program.start(programPath(), QStringList { QStringLiteral("--verbose") } + arguments);
    if (!m_program.waitForStarted()) {
        m_errorString = m_program.errorString();
        return false;
    }
    QByteArray found;
    const bool shown = QTest::qWaitFor(
        [&] {
            xdotool({ QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--pid"),
                      QString::number(m_program.processId()) },
                    &found);
            return !found.trimmed().isEmpty() || m_program.state() == QProcess::NotRunning;
        },
        30000);
    if (!shown || m_program.state() == QProcess::NotRunning) {
        m_errorString = m_program.state() == QProcess::NotRunning
            ? QStringLiteral("the program %1 %2 without a window on %3:\n")
                  .arg(m_program.exitStatus() == QProcess::CrashExit ? QStringLiteral("was killed by signal")
                                                                     : QStringLiteral("ended with status"))
                  .arg(m_program.exitCode())
                  .arg(m_displayName)
            : QStringLiteral("the program showed no window on %1:\n").arg(m_displayName);
        m_errorString += QString::fromLocal8Bit(logTail());
        // The program reads --verbose only after it has connected to the
        // display, and says no more than a fatal message before: the X
        // server's own log may tell more.
        QByteArray geometry;
        const bool reachable = xdotool({ QStringLiteral("getdisplaygeometry") }, &geometry);
        m_errorString += QStringLiteral("\nthe display answers xdotool: %1 %2")
                             .arg(reachable ? QStringLiteral("yes") : QStringLiteral("no"),
                                  QString::fromLatin1(geometry.trimmed()));
        QFile xvfbLog(m_dir.filePath(QStringLiteral("xvfb.log")));
        if (xvfbLog.open(QIODevice::ReadOnly))
            m_errorString += QStringLiteral("\nXvfb:\n") + QString::fromLocal8Bit(xvfbLog.readAll().right(2000));
        return false;
    }
    m_window = QString::fromLatin1(found.trimmed().split('\n').constFirst());
    return xdotool({ QStringLiteral("windowfocus"), QStringLiteral("--sync"), m_window });
}

void ProgramSession::stop()
{
    if (m_program.state() == QProcess::NotRunning)
        return;
    m_program.terminate();
    if (!m_program.waitForFinished(10000)) {
        m_program.kill();
        m_program.waitForFinished();
    }
    m_window.clear();
}

QByteArray ProgramSession::log() const
{
    // Only what was added since the last look is read: a download logs a
    // line for every piece it stores, and the log is watched all the time.
    QFile file(m_dir.filePath(QStringLiteral("program.log")));
    if (file.open(QIODevice::ReadOnly) && file.size() > m_log.size() && file.seek(m_log.size()))
        m_log += file.readAll();
    return m_log;
}

qsizetype ProgramSession::waitForLog(const QByteArray &text, int timeoutMs, qsizetype from) const
{
    qsizetype end = -1;
    const auto seen = [&] {
        const QByteArray all = log();
        const qsizetype at = all.indexOf(text, from);
        if (at >= 0) {
            const qsizetype newline = all.indexOf('\n', at);
            end = newline < 0 ? all.size() : newline + 1;
            return true;
        }
        return false;
    };
    // Once the program has ended its log is complete: a last look decides.
    if (QTest::qWaitFor([&] { return seen() || m_program.state() == QProcess::NotRunning; }, timeoutMs) && end < 0)
        seen();
    return end;
}

qsizetype ProgramSession::waitForStatus(const QByteArray &status, int timeoutMs, qsizetype from) const
{
    qsizetype end = -1;
    const auto seen = [&] {
        const QList<QByteArray> lines = log().mid(from).split('\n');
        qsizetype offset = from;
        for (const QByteArray &line : lines) {
            offset += line.size() + 1;
            if (line.contains(ProgramLog::statusOf) && line.endsWith(ProgramLog::statusNow + status)) {
                end = offset;
                return true;
            }
        }
        return false;
    };
    if (QTest::qWaitFor([&] { return seen() || m_program.state() == QProcess::NotRunning; }, timeoutMs) && end < 0)
        seen();
    return end;
}

QList<QByteArray> ProgramSession::statuses(qsizetype from) const
{
    static const QRegularExpression status(
        QString::fromLatin1(ProgramLog::statusOf + ".*" + ProgramLog::statusNow + "([A-Z_]+)$"),
        QRegularExpression::MultilineOption);
    QList<QByteArray> found;
    const QString text = QString::fromUtf8(log().mid(from));
    for (auto it = status.globalMatch(text); it.hasNext();)
        found.append(it.next().captured(1).toLatin1());
    return found;
}

bool ProgramSession::xdotool(const QStringList &arguments, QByteArray *output) const
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), m_displayName);
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral("xdotool"), arguments);
    const bool ended = process.waitForFinished(20000);
    if (output)
        *output = process.readAllStandardOutput();
    if (!ended) {
        process.kill();
        process.waitForFinished();
        return false;
    }
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

bool ProgramSession::keys(const QStringList &keys, Settle settle)
{
    // A key has taken effect once the window shows something else than
    // before it (a program slow to take the key is not at rest) and has come
    // to rest; or it does nothing to be seen, and the change never comes.
    if (settle == Settle::AtRest && picture(QStringLiteral("mark ") + m_window) != "ok") {
        m_errorString = QStringLiteral("the picture taker does not answer");
        return false;
    }
    for (const QString &key : keys) {
        // To the window that has the keyboard, as a person's keys go: a key
        // sent to a window that loses the keyboard while the key is down
        // (to a dialog it opens) would stay down in the X server and repeat.
        if (!xdotool({ QStringLiteral("key"), QStringLiteral("--clearmodifiers"), key })) {
            m_errorString = QStringLiteral("xdotool could not press ") + key;
            return false;
        }
        if (settle == Settle::Moving) {
            QTest::qWait(settleMs);
            continue;
        }
        const QByteArray reply = picture(QStringLiteral("change %1 150").arg(m_window));
        if (reply != "ok" && reply != "unchanged") {
            m_errorString = QStringLiteral("after %1: %2").arg(key, QString::fromUtf8(reply));
            return false;
        }
    }
    return true;
}

QStringList ProgramSession::visibleWindows() const
{
    QByteArray found;
    xdotool({ QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--pid"),
              QString::number(m_program.processId()) },
            &found);
    QStringList windows;
    for (const QByteArray &line : found.split('\n')) {
        if (!line.trimmed().isEmpty())
            windows.append(QString::fromLatin1(line.trimmed()));
    }
    return windows;
}

bool ProgramSession::showDialog()
{
    // Qt may replace the native window of a dialog just after showing it, so
    // the window is taken once it has stayed the same for a moment.
    QString previous;
    m_dialog.clear();
    const bool found = QTest::qWaitFor(
        [&] {
            QString current;
            for (const QString &window : visibleWindows()) {
                if (window != m_window)
                    current = window;
            }
            if (!current.isEmpty() && current == previous)
                m_dialog = current;
            previous = current;
            if (m_dialog.isEmpty())
                QTest::qWait(300);
            return !m_dialog.isEmpty();
        },
        20000);
    if (!found) {
        m_errorString = QStringLiteral("no dialog came up");
        return false;
    }
    if (!xdotool({ QStringLiteral("windowfocus"), QStringLiteral("--sync"), m_dialog }))
        return false;
    QTest::qWait(settleMs);
    return true;
}

bool ProgramSession::dialogKeys(const QStringList &keys)
{
    if (m_dialog.isEmpty() && !showDialog())
        return false;
    m_dialog.clear();
    const bool pressed = this->keys(keys);
    // The dialog may be gone already: the main window takes the keyboard back.
    xdotool({ QStringLiteral("windowfocus"), QStringLiteral("--sync"), m_window });
    return pressed;
}

bool ProgramSession::grab(const QString &file, Settle settle)
{
    const QByteArray reply = picture(settle == Settle::AtRest ? QStringLiteral("rest %1 300 %2").arg(m_window, file)
                                                              : QStringLiteral("grab %1 %2").arg(m_window, file));
    if (reply != "ok")
        m_errorString = QStringLiteral("cannot take %1: %2").arg(file, QString::fromUtf8(reply));
    return reply == "ok";
}

QByteArray ProgramSession::picture(const QString &command)
{
    // A wait for rest gives up after ten seconds, a wait for a change after two.
    m_pictures.write(command.toUtf8() + '\n');
    if (!QTest::qWaitFor([&] { return m_pictures.canReadLine() || m_pictures.state() != QProcess::Running; }, 30000))
        return "no answer";
    return m_pictures.canReadLine() ? m_pictures.readLine().trimmed()
                                    : "it ended: " + m_pictures.readAllStandardError().right(500);
}
