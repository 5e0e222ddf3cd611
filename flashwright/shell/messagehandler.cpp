#include "messagehandler.h"

// TODO: the handler itself (fatal ends with status 1; verbose writes to stderr).

const QLoggingCategory &MessageHandler::category()
{
    // QLoggingCategory keeps the pointer to its name, so it must be a literal.
    static const QLoggingCategory category("example.zelvan.Flashwright", QtDebugMsg);
    return category;
}

void MessageHandler::install()
{
}
