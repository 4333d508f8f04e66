#include "UI/Settings/DirectoryChooser.h"

#include <QAbstractItemView>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QGuiApplication>
#include <QIdentityProxyModel>
#include <QLocale>
#include <QPointer>
#include <QUrl>

#include "UI/Common/PortalRequest.h"

namespace pallix {

namespace {

constexpr char kFileChooserInterface[] = "org.freedesktop.portal.FileChooser";

// Qt's list names a folder's type and writes its dates in the system's
// language, English under C.UTF-8, whatever the translations: both in
// Chinese here, like the rest of the dialog.
class ChineseFolderListing final : public QIdentityProxyModel {
public:
    using QIdentityProxyModel::QIdentityProxyModel;

    QVariant data(const QModelIndex& index, int role) const override
    {
        const auto* files = qobject_cast<const QFileSystemModel*>(sourceModel());
        if (!files || role != Qt::DisplayRole || (index.column() != kTypeColumn && index.column() != kDateColumn))
            return QIdentityProxyModel::data(index, role);
        const QModelIndex source = mapToSource(index);
        if (index.column() == kDateColumn)
            return QLocale(QLocale::Chinese, QLocale::China).toString(files->lastModified(source), QLocale::ShortFormat);
        return files->isDir(source) ? QStringLiteral("文件夹") : QIdentityProxyModel::data(index, role);
    }

private:
    static constexpr int kTypeColumn = 2;
    static constexpr int kDateColumn = 3;
};

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
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    dialog->setProxyModel(new ChineseFolderListing(dialog));
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
