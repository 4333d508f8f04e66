#include "UI/Common/CloseShortcut.h"

#include <QKeySequence>
#include <QShortcut>
#include <QWidget>

namespace pallix {

void installCloseShortcut(QWidget* window)
{
    // Not QKeySequence::Close: on some desktops that is Ctrl+F4 alone.
    auto* shortcut = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_W), window);
    shortcut->setContext(Qt::WindowShortcut);
    QObject::connect(shortcut, &QShortcut::activated, window, &QWidget::close);
}

} // namespace pallix
