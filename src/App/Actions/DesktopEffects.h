#pragma once
// DesktopEffects: what a file action does to the desktop around the program:
// open a location with its default application, show an item in the file
// manager, fill the clipboard, tell the user about a failure, ask before a
// destructive step. One object is handed to the actions from outside, so the
// window layer can put its dialogs in and tests can record every effect.
// GUI thread only.

#include <functional>

#include <QString>
#include <QUrl>

class QMimeData;

namespace pallix {

// A question with one accepting and one cancelling button; the accepting one
// is the default.
struct ConfirmationRequest {
    QString message;      // the question, e.g. "移到回收站？"
    QString informative;  // the detail under it, e.g. the item's name
    QString acceptText;
    QString cancelText;
};

class DesktopEffects {
public:
    virtual ~DesktopEffects() = default;

    // Opens the location with the desktop's default handler.
    virtual void openUrl(const QUrl& url) = 0;
    // Shows the file's folder in the file manager with the file selected.
    virtual void revealInFileManager(const QUrl& file) = 0;
    // Replaces the clipboard's contents; takes ownership of `data`.
    virtual void setClipboard(QMimeData* data) = 0;
    // A warning with the one button "好"; returns before the user answers.
    virtual void alert(const QString& title, const QString& message) = 0;
    // Asks, and calls `answer` on the GUI thread once the user chose (true
    // for the accepting button). May answer before or after returning.
    virtual void confirm(const ConfirmationRequest& request, std::function<void(bool accepted)> answer) = 0;
};

} // namespace pallix
