#pragma once

#include <QLoggingCategory>

// The one logging category of the graphical program and the process-wide
// message handler.
class MessageHandler
{
public:
    static const QLoggingCategory &category();
    static void install();
};
