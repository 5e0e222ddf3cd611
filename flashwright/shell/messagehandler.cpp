#include "messagehandler.h"

#include "appinfo.h"
#include "options.h"

#include <QByteArray>

#include <cstdio>
#include <cstdlib>

namespace {

const char *severityName(QtMsgType type)
{
    switch (type) {
    case QtDebugMsg:
        return "debug";
    case QtInfoMsg:
        return "info";
    case QtWarningMsg:
        return "warning";
    case QtCriticalMsg:
        return "critical";
    case QtFatalMsg:
        return "fatal";
    }
    return "log";
}

} // namespace

// Silent by default: the program is started from desktop menus, where nobody
// reads its output. --verbose turns the same lines into a plain trace on
// standard error, which is what a user asking for it expects. A fatal message
// is written in any case: it ends the program, often before --verbose has
// been read (no display, a broken plug-in), and is the only word on why.
void myMessageOutput(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    Q_UNUSED(context)

    if (options.verbose || type == QtFatalMsg) {
        QByteArray line = severityName(type);
        line += ": ";
        line += message.toLocal8Bit();
        line += '\n';
        // One write per line so lines from different threads do not interleave.
        std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
        std::fflush(stderr);
    }

    if (type == QtFatalMsg) {
        // End at once: no atexit handlers or static destructors, which could
        // run into the very state that made the message fatal.
        std::fflush(stdout);
        std::_Exit(1);
    }
}

const QLoggingCategory &MessageHandler::category()
{
    static const QLoggingCategory category(AppInfo::applicationIdLatin1, QtDebugMsg);
    return category;
}

void MessageHandler::install()
{
    qInstallMessageHandler(myMessageOutput);
}
