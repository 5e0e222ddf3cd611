#pragma once

class QString;

// Desktop notifications through the session bus.
namespace Notifications {
// Shows one new notification. Blocks until the notification server answers;
// a missing server or an error is logged and otherwise ignored.
void notify(const QString &title, const QString &message);
} // namespace Notifications
