#include "UI/Settings/DirectoryChooser.h"

#include <QAbstractItemView>
#include <QFileDialog>
#include <QGuiApplication>
#include <QPointer>
#include <QUrl>

#include "UI/Common/PortalRequest.h"

namespace pallix {

namespace {

constexpr char kFileChooserInterface[] = "org.freedesktop.portal.FileChooser";

// Qt's own dialog picks one folder only: its views accept a wider selection,
// and the dialog then returns every selected folder.
void allowSeveral(QFileDialog* dialog)
{
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    for (QAbstractItemView* view : dialog->findChildren<QAbstractItemView*>())
        view->setSelectionMode(QAbstractItemView::ExtendedSelection);
}

void openQtDialog(QWidget* parent, const QString& title, bool several,
                  const std::function<void(const QStringList&)>& completion)
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

// The window the portal's dialog is placed over; X11 windows only.
QString parentWindowHandle(QWidget* parent)
{
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        return {};
    return QStringLiteral("x11:%1").arg(parent->window()->winId(), 0, 16);
}

QStringList localFolders(const QVariant& uris)
{
    QStringList folders;
    for (const QString& uri : uris.toStringList()) {
        const QUrl url(uri);
        if (url.isLocalFile())
            folders.append(url.toLocalFile());
    }
    return folders;
}

} // namespace

void chooseDirectories(QWidget* parent, const QString& title, bool several,
                       std::function<void(const QStringList&)> completion, const QDBusConnection& bus)
{
    QPointer<QWidget> guard(parent);
    const QVariantMap options{{QStringLiteral("directory"), true},
                              {QStringLiteral("multiple"), several},
                              {QStringLiteral("modal"), true},
                              {QStringLiteral("accept_label"), QStringLiteral("选择")}};
    portal::request(
        bus, QString::fromLatin1(kFileChooserInterface), QStringLiteral("OpenFile"),
        {parentWindowHandle(parent), title}, options, parent,
        {[completion](uint code, const QVariantMap& results) {
             completion(code == 0 ? localFolders(results.value(QStringLiteral("uris"))) : QStringList());
         },
         // No portal (or a broken one): Qt's own dialog.
         [guard, title, several, completion](const QDBusError&) {
             if (guard)
                 openQtDialog(guard, title, several, completion);
         }});
}

} // namespace pallix
