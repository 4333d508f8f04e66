#include "UI/Search/SearchWindow.h"

#include <QLabel>
#include <QMenuBar>
#include <QStatusBar>
#include <QVBoxLayout>

#include "App/AppModel.h"
#include "App/Context/AppContext.h"
#include "App/Context/FaultNotices.h"
#include "App/Indexing/LocalIndex.h"
#include "App/Settings/SettingsOperations.h"
#include "UI/Common/AppNotifications.h"
#include "UI/Results/ResultsArea.h"
#include "UI/Search/FaultNoticeBar.h"
#include "UI/Search/ResultsMenu.h"
#include "UI/Search/SearchView.h"

namespace pallix {

SearchWindow::SearchWindow(AppModel& model, ThumbnailProvider& thumbnails, QWidget* parent)
    : QMainWindow(parent), m_model(model)
{
    // The fault notices under the results: the status line below them is
    // rewritten by every scan's progress, they stay until dismissed.
    auto* central = new QWidget(this);
    auto* stack = new QVBoxLayout(central);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(0);
    // The window is the shell's: it hands the view the session and the few
    // other features the view's controls reach.
    SearchView::Services services{model.resultActions(), model.settingsOperations(),
                                  [&model] { return model.localIndex().hasMountedRemovableVolumes(); },
                                  [&model] { return model.settingsOperations().welcomeSheetDismissed(); },
                                  [&model] { model.settingsOperations().markWelcomeSheetDismissed(); }};
    m_view = new SearchView(model.searchSession(), std::move(services), thumbnails, central);
    stack->addWidget(m_view, 1);
    m_noticeBar = new FaultNoticeBar(model.context().faultNotices(), central);
    stack->addWidget(m_noticeBar);
    setCentralWidget(central);
    buildFileMenu();
    m_resultsMenu = new ResultsMenu(model.searchSession(), model.resultActions(), m_view->resultsArea(), this);
    menuBar()->addMenu(m_resultsMenu);

    m_statusLine = new QLabel;
    statusBar()->addWidget(m_statusLine, 1);
    statusBar()->setSizeGripEnabled(false);
    connect(&m_model, &AppModel::statusMessageChanged, this,
            [this] { m_statusLine->setText(m_model.statusMessage()); });
    m_statusLine->setText(m_model.statusMessage());
}

void SearchWindow::buildFileMenu()
{
    QMenu* file = menuBar()->addMenu(QStringLiteral("文件"));
    QAction* focus = file->addAction(QStringLiteral("聚焦搜索框"));
    focus->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F));
    // Focuses the field only: it does not bring a hidden window back.
    connect(focus, &QAction::triggered, this, [] { AppNotifications::shared().postFocusSearchField(); });
    QAction* rebuild = file->addAction(QStringLiteral("重建索引"));
    rebuild->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_R));
    connect(rebuild, &QAction::triggered, this, [this] { m_model.localIndex().rebuildIndex(false); });
}

} // namespace pallix
