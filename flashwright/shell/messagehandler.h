#pragma once

#include <QLoggingCategory>

// The one logging category of the graphical program and the process-wide
// message handler.
class MessageHandler
{
public:
    static const QLoggingCategory &category();
    // Makes myMessageOutput the handler of every Qt message in the process.
    static void install();
};

// Ends the process with status 1 on a fatal message, which it writes to
// standard error first; writes every other message there when options.verbose
// is set and discards it otherwise.
void myMessageOutput(QtMsgType type, const QMessageLogContext &context, const QString &message);
