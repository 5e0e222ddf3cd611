#pragma once

#include <QStringList>
#include <QtGlobal>

// Keeps every message logged while it lives (and still passes each one on to
// the handler that was there before), so a test can check what a verbose log
// would have told.
class LogCapture
{
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;

    [[nodiscard]] QStringList messages() const { return m_messages; }
    // Whether a message contains the text.
    [[nodiscard]] bool contains(const QString &text) const;

private:
    static void handle(QtMsgType type, const QMessageLogContext &context, const QString &message);

    QStringList m_messages;
    QtMessageHandler m_previous = nullptr;
    LogCapture *m_outer = nullptr;

    static LogCapture *s_current;
};
