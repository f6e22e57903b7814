#pragma once

#include <QString>

namespace varno {

// Shows a desktop notification where a notification service runs; does nothing
// elsewhere. Never waits for the service.
void showDesktopNotification(const QString& summary, const QString& body);

} // namespace varno
