#pragma once

class QString;

// Desktop notifications through the session bus.
namespace Notifications {
// Shows one new notification. Returns at once: the server's answer is read
// by the event loop, and a missing server or an error is logged and otherwise
// ignored. Safe to call while the program ends, even after the application
// object has gone: the call is still sent.
void notify(const QString &title, const QString &message);
} // namespace Notifications
