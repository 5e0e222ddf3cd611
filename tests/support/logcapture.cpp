#include "logcapture.h"

LogCapture *LogCapture::s_current = nullptr;

LogCapture::LogCapture()
    : m_outer(s_current)
{
    s_current = this;
    m_previous = qInstallMessageHandler(&LogCapture::handle);
}

LogCapture::~LogCapture()
{
    qInstallMessageHandler(m_previous);
    s_current = m_outer;
}

bool LogCapture::contains(const QString &text) const
{
    for (const QString &message : m_messages) {
        if (message.contains(text))
            return true;
    }
    return false;
}

void LogCapture::handle(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    LogCapture *capture = s_current;
    if (!capture)
        return;
    capture->m_messages.append(message);
    if (capture->m_previous)
        capture->m_previous(type, context, message);
}
