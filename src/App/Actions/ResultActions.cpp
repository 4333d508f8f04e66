#include "App/Actions/ResultActions.h"

#include <QDir>
#include <QMimeData>
#include <QPointer>
#include <QUrl>

#include "App/Context/AppContext.h"
#include "App/Search/SearchSession.h"
#include "App/Paths/SystemPaths.h"
#include "App/Actions/SystemDesktop.h"

namespace pallix {

namespace {

const QString kItemMissing = QStringLiteral("找不到该项目，可能已被移动或删除。");

std::shared_ptr<DesktopEffects> orSystem(std::shared_ptr<DesktopEffects> desktop)
{
    return desktop ? std::move(desktop) : std::make_shared<SystemDesktop>();
}

} // namespace

ResultActions::ResultActions(const AppContext& context, SearchSession& session,
                             std::shared_ptr<DesktopEffects> desktop)
    : m_context(context), m_session(session), m_handler(orSystem(std::move(desktop)))
{
}

ResultActions::~ResultActions() = default;

void ResultActions::open(const IndexedItem& item)
{
    m_handler.open(item);
}

void ResultActions::openPath(const QString& path)
{
    m_handler.openPath(path);
}

void ResultActions::reveal(const IndexedItem& item)
{
    m_handler.reveal(item.path());
}

void ResultActions::copyName(const IndexedItem& item)
{
    copyText(systempaths::display(item.name()), QStringLiteral("已复制文件名"));
}

void ResultActions::copyPath(const IndexedItem& item)
{
    copyText(systempaths::display(item.path()), QStringLiteral("已复制路径"));
}

void ResultActions::copyText(const QString& text, const QString& status)
{
    auto* data = new QMimeData;
    data->setText(text);
    m_handler.desktop().setClipboard(data);
    m_context.setStatusMessage(status, StatusKind::Confirmation);
}

void ResultActions::copyFileToPasteboard(const IndexedItem& item)
{
    if (!systempaths::exists(item.path())) {
        m_handler.presentErrorAlert(QStringLiteral("无法拷贝"), kItemMissing);
        return;
    }
    m_handler.copyFileReferenceToPasteboard(item);
    m_context.setStatusMessage(QStringLiteral("已拷贝到剪贴板，可在文件管理器中粘贴"), StatusKind::Confirmation);
}

void ResultActions::beginInlineRename(const IndexedItem& item)
{
    if (!systempaths::exists(item.path())) {
        m_handler.presentErrorAlert(QStringLiteral("无法重命名"), kItemMissing);
        return;
    }
    const QString path = QString::fromUtf8(item.path());
    m_session.inlineRename().setTargetID(path);
    // The stored name, not its display form: a name left as it was keeps its bytes.
    m_session.inlineRename().setDraft(QString::fromUtf8(item.name()));
    m_session.setSelectedItemID(path);
}

void ResultActions::commitInlineRename()
{
    const QString target = m_session.inlineRename().targetID();
    if (target.isEmpty())
        return;
    const std::string source = target.toStdString();
    const FileActionHandler::PathResult renamed =
        systempaths::exists(source)
            ? FileActionHandler::performRename(source, m_session.inlineRename().draft().trimmed())
            : FileActionHandler::PathResult(Unexpected(FileActionError::fileMissing()));
    if (renamed) {
        closeInlineRename();
        m_session.selectRenamedItem(target, QString::fromStdString(*renamed));
        m_context.setStatusMessage(QStringLiteral("已重命名"), StatusKind::Confirmation);
        m_session.scheduleSearch(true, false);
        return;
    }
    if (renamed.error().code == FileActionError::Code::SameName) {
        closeInlineRename();
        return;
    }
    // The field stays open with the typed text for another try.
    fail(QStringLiteral("无法重命名"), renamed.error().message);
}

void ResultActions::cancelInlineRename()
{
    closeInlineRename();
}

void ResultActions::closeInlineRename()
{
    m_session.inlineRename().setTargetID({});
    m_session.inlineRename().setDraft({});
}

void ResultActions::fail(const QString& title, const QString& message)
{
    m_context.setStatusMessage(message);
    m_handler.presentErrorAlert(title, message);
}

void ResultActions::duplicateItem(const IndexedItem& item)
{
    QPointer<SearchSession> session(&m_session);
    m_handler.duplicateItem(item, &m_session, [this, session](const FileActionHandler::PathResult& result) {
        if (!session)
            return;
        if (!result) {
            fail(QStringLiteral("无法制作副本"), result.error().message);
            return;
        }
        m_session.setSelectedItemID(QString::fromStdString(*result));
        m_context.setStatusMessage(QStringLiteral("已制作副本"), StatusKind::Confirmation);
        m_session.scheduleSearch(true, false);
    });
}

void ResultActions::moveItemToTrash(const IndexedItem& item)
{
    // The answer may come long after the call: it acts on the item asked
    // about, not on whatever is selected by then.
    QPointer<SearchSession> session(&m_session);
    const QString path = QString::fromUtf8(item.path());
    m_handler.presentMoveToTrashConfirmation(item, [this, session, path](const FileActionHandler::DoneResult& result) {
        if (!session)
            return;
        if (!result) {
            if (result.error().code != FileActionError::Code::Cancelled)
                fail(QStringLiteral("无法移到回收站"), result.error().message);
            return;
        }
        if (m_session.selectedItemID() == path)
            m_session.setSelectedItemID({});
        m_context.setStatusMessage(QStringLiteral("已移到回收站"), StatusKind::Confirmation);
        m_session.scheduleSearch(true, false);
    });
}

void ResultActions::scopeToItem(const IndexedItem& item)
{
    const std::string_view folder = item.isDirectory() ? item.path() : item.parentPath();
    m_session.constraints().applyScopedPath(QDir::cleanPath(QString::fromUtf8(folder)), true);
}

void ResultActions::onSelection(void (ResultActions::*action)(const IndexedItem&))
{
    if (const auto item = m_session.selectedItem())
        (this->*action)(*item);
}

void ResultActions::openSelected() { onSelection(&ResultActions::open); }
void ResultActions::revealSelected() { onSelection(&ResultActions::reveal); }
void ResultActions::copySelectedName() { onSelection(&ResultActions::copyName); }
void ResultActions::copySelectedPath() { onSelection(&ResultActions::copyPath); }
void ResultActions::moveSelectedToTrash() { onSelection(&ResultActions::moveItemToTrash); }

} // namespace pallix
