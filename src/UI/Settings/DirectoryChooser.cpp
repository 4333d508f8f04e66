#include "UI/Settings/DirectoryChooser.h"

#include <QAbstractItemView>
#include <QFileDialog>

namespace pallix {

namespace {

// Qt's own dialog picks one folder only: its views accept a wider selection,
// and the dialog then returns every selected folder.
void allowSeveral(QFileDialog* dialog)
{
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    for (QAbstractItemView* view : dialog->findChildren<QAbstractItemView*>())
        view->setSelectionMode(QAbstractItemView::ExtendedSelection);
}

} // namespace

void chooseDirectories(QWidget* parent, const QString& title, bool several,
                       std::function<void(const QStringList&)> completion)
{
    // open(), not exec(): the dialog must not run a nested event loop on the
    // GUI thread. Parented to the window so it stays in front of it.
    auto* dialog = new QFileDialog(parent->window(), title);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setFileMode(QFileDialog::Directory);
    dialog->setOption(QFileDialog::ShowDirsOnly);
    dialog->setOption(QFileDialog::ReadOnly);  // no new-folder button
    if (several)
        allowSeveral(dialog);
    QObject::connect(dialog, &QFileDialog::filesSelected, parent, completion);
    QObject::connect(dialog, &QFileDialog::rejected, parent, [completion] { completion({}); });
    dialog->open();
}

} // namespace pallix
