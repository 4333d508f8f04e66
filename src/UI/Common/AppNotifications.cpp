#include "UI/Common/AppNotifications.h"

namespace pallix {

AppNotifications& AppNotifications::shared()
{
    static AppNotifications* notifications = new AppNotifications;
    return *notifications;
}

} // namespace pallix
