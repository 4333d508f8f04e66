#pragma once
// WidgetDesktop: the system desktop effects plus the dialogs of the file
// actions as message boxes: an alert with "好" and the trash confirmation
// (Return cancels it), window-modal on the active window (application-modal
// when there is none).
// The application hands one to the model (AppModelEnvironment::desktop).
// GUI thread only.

#include <memory>

#include "App/Actions/SystemDesktop.h"

namespace pallix {

class WidgetDesktop : public SystemDesktop {
public:
    void alert(const QString& title, const QString& message) override;
    void confirm(const ConfirmationRequest& request, std::function<void(bool accepted)> answer) override;
};

std::shared_ptr<DesktopEffects> makeWidgetDesktop();

} // namespace pallix
