#include "App/Actions/FileActionHandler.h"

#include <sys/stat.h>

#include <QFileInfo>
#include <QMimeData>
#include <QPointer>
#include <QThreadPool>
#include <QUrl>

#include "App/Paths/ShownNames.h"
#include "App/Paths/SystemPaths.h"
#include "App/Actions/FileOperations.h"
#include "App/Actions/Trash.h"
#include "App/Preview/FolderBrowserManager.h"
#include "Platform/FileNames.h"

namespace pallix {

namespace {

QUrl fileUrl(std::string_view path)
{
    return systempaths::url(path);
}

bool isFolder(const QString& path)
{
    struct stat st {};
    return ::stat(systempaths::bytes(path).constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

} // namespace

FileActionHandler::FileActionHandler(std::shared_ptr<DesktopEffects> desktop) : m_desktop(std::move(desktop)) {}

void FileActionHandler::open(const IndexedItem& item) const
{
    if (item.isDirectory())
        openPath(QString::fromUtf8(item.path()));  // stored form: the browser lists it by its bytes
    else
        m_desktop->openUrl(fileUrl(item.path()));
}

void FileActionHandler::openPath(const QString& path) const
{
    FolderBrowserManager& browsers = FolderBrowserManager::shared();
    // Until a browser window exists nobody listens, and the file manager
    // shows the folder instead.
    if (isFolder(path) && browsers.hasWindowProvider())
        browsers.open(path);
    else
        m_desktop->openUrl(systempaths::url(path));
}

void FileActionHandler::reveal(std::string_view path) const
{
    m_desktop->revealInFileManager(fileUrl(path));
}

void FileActionHandler::duplicateItem(const IndexedItem& item, QObject* context,
                                      std::function<void(const PathResult&)> completion) const
{
    // A large folder takes long to copy: the window keeps answering meanwhile.
    // The answer is posted to `context`: it is dropped when that is gone.
    QPointer<QObject> receiver(context);
    QThreadPool::globalInstance()->start([path = std::string(item.path()), receiver, completion = std::move(completion)] {
        PathResult result = FileOperations::duplicate(path);
        QMetaObject::invokeMethod(
            receiver, [completion, result = std::move(result)] { completion(result); }, Qt::QueuedConnection);
    });
}

void FileActionHandler::presentMoveToTrashConfirmation(const IndexedItem& item,
                                                       std::function<void(const DoneResult&)> completion) const
{
    if (!systempaths::exists(item.path())) {
        completion(Unexpected(FileActionError::fileMissing()));
        return;
    }
    const ConfirmationRequest request{QStringLiteral("移到回收站？"), shownnames::shown(item.name()),
                                      QStringLiteral("移到回收站"), QStringLiteral("取消")};
    m_desktop->confirm(request, [path = std::string(item.path()), completion = std::move(completion)](bool accepted) {
        if (!accepted) {
            completion(Unexpected(FileActionError::cancelled()));
            return;
        }
        // One rename within the item's disk, a bounded number of names tried,
        // by the real bytes of a name that is not UTF-8.
        const auto trashed = Trash::moveToTrash(filenames::toFileSystem(path));
        if (trashed) {
            completion({});
            return;
        }
        completion(Unexpected(trashed.error()));
    });
}

void FileActionHandler::presentErrorAlert(const QString& title, const QString& message) const
{
    m_desktop->alert(title, message);
}

void FileActionHandler::copyFileReferenceToPasteboard(const IndexedItem& item) const
{
    const QUrl url = fileUrl(item.path());
    auto* data = new QMimeData;
    data->setUrls({url});
    data->setData(QStringLiteral("x-special/gnome-copied-files"), QByteArray("copy\n") + url.toEncoded());
    data->setText(systempaths::display(item.name()));
    m_desktop->setClipboard(data);
}

FileActionHandler::PathResult FileActionHandler::performRename(const std::string& sourcePath, const QString& newDisplayName)
{
    return FileOperations::rename(sourcePath, newDisplayName);
}

} // namespace pallix
