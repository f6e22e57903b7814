#include "app/DesktopNotification.h"

namespace varno {

void showDesktopNotification(const QString&, const QString&) {}

} // namespace varno
