#pragma once
// SystemDesktop: the desktop effects that need no window. Opening goes to
// QDesktopServices, revealing to the file manager's D-Bus interface (the
// parent folder is opened when no file manager answers), the clipboard is the
// application's. It has no dialogs: alerts are dropped and a confirmation is
// answered "no", so nothing destructive happens unasked; the window layer
// derives from it to add them. GUI thread only.

#include "App/Actions/DesktopEffects.h"

namespace pallix {

class SystemDesktop : public DesktopEffects {
public:
    void openUrl(const QUrl& url) override;
    void revealInFileManager(const QUrl& file) override;
    void setClipboard(QMimeData* data) override;
    void alert(const QString& title, const QString& message) override;
    void confirm(const ConfirmationRequest& request, std::function<void(bool accepted)> answer) override;
};

} // namespace pallix
