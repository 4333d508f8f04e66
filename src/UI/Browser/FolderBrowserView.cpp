#include "UI/Browser/FolderBrowserView.h"

#include <QHBoxLayout>
#include <QKeySequence>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QScrollArea>
#include <QShortcut>
#include <QStackedWidget>
#include <QStyle>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include "App/Browser/FolderBrowserModel.h"
#include "App/Paths/ShownNames.h"
#include "App/Preview/ThumbnailProvider.h"
#include "App/Search/GridZoom.h"
#include "UI/Browser/FolderBrowserGrid.h"
#include "UI/Common/GridMetrics.h"
#include "UI/Common/ResultPainting.h"
#include "UI/Common/ResultSymbols.h"
#include "UI/Common/Symbols.h"
#include "UI/Results/FolderVideoHints.h"

namespace pallix {

namespace {

namespace paint = ResultPainting;

// The chevron between crumbs: a symbol of the 9-point semibold text size.
constexpr int kCrumbChevronSize = 9;

QToolButton* navigationButton(QStyle::StandardPixmap fallback, const QString& themeName, QWidget* parent)
{
    auto* button = new QToolButton(parent);
    button->setAutoRaise(true);
    button->setFixedSize(28, 24);
    button->setIcon(QIcon::fromTheme(themeName, parent->style()->standardIcon(fallback)));
    return button;
}

void clearLayout(QHBoxLayout* layout)
{
    // Later, not now: the crumb that was clicked is still in its signal.
    // Hidden but kept as children: taken from their parent, the crumbs were
    // windows of their own until deleted, and their end left the next window
    // of the application inactive.
    while (QLayoutItem* item = layout->takeAt(0)) {
        if (QWidget* widget = item->widget()) {
            widget->hide();
            widget->deleteLater();
        }
        delete item;
    }
}

} // namespace

FolderBrowserView::FolderBrowserView(FolderBrowserModel& model, ThumbnailProvider& thumbnails, QWidget* parent)
    : QWidget(parent), m_model(model), m_thumbnails(thumbnails), m_hints(new FolderVideoHints(this))
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(buildHeader());
    auto* divider = new QFrame(this);
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Plain);
    divider->setStyleSheet(QStringLiteral("color: rgba(0,0,0,0.12);"));
    layout->addWidget(divider);
    layout->addWidget(buildContent(), 1);
    installZoomShortcuts();

    connect(&m_model, &FolderBrowserModel::historyChanged, this, &FolderBrowserView::showHistory);
    connect(&m_model, &FolderBrowserModel::currentPathChanged, this, &FolderBrowserView::showPath);
    connect(&m_model, &FolderBrowserModel::itemsChanged, this, &FolderBrowserView::showItems);
    connect(&m_model, &FolderBrowserModel::moveProblemChanged, this, &FolderBrowserView::showMoveProblem);
    showHistory();
    showPath();
    showItems();
    showMoveProblem();
}

FolderBrowserView::~FolderBrowserView() = default;

QWidget* FolderBrowserView::buildHeader()
{
    auto* header = new QWidget(this);
    header->setBackgroundRole(QPalette::Window);
    header->setAutoFillBackground(true);
    auto* column = new QVBoxLayout(header);
    column->setContentsMargins(14, 10, 14, 10);
    column->setSpacing(8);

    auto* row = new QHBoxLayout;
    row->setSpacing(8);
    m_back = navigationButton(QStyle::SP_ArrowBack, QStringLiteral("go-previous-symbolic"), header);
    m_back->setToolTip(QStringLiteral("后退"));
    m_forward = navigationButton(QStyle::SP_ArrowForward, QStringLiteral("go-next-symbolic"), header);
    m_forward->setToolTip(QStringLiteral("前进"));
    connect(m_back, &QToolButton::clicked, &m_model, &FolderBrowserModel::goBack);
    connect(m_forward, &QToolButton::clicked, &m_model, &FolderBrowserModel::goForward);
    m_title = new QLabel(header);
    m_title->setFont(paint::font(15, QFont::DemiBold));
    m_title->setTextFormat(Qt::PlainText);  // a folder named "<b>x</b>" is not markup
    // Linux windows have no subtitle: the full path stands beside the name.
    m_path = new QLabel(header);
    m_path->setFont(paint::font(12));
    m_path->setTextFormat(Qt::PlainText);
    m_path->setTextInteractionFlags(Qt::TextSelectableByMouse);
    QPalette secondary = m_path->palette();
    secondary.setColor(QPalette::WindowText, paint::secondaryText(palette()));
    m_path->setPalette(secondary);
    row->addWidget(m_back);
    row->addWidget(m_forward);
    row->addWidget(m_title);
    row->addWidget(m_path, 1);
    column->addLayout(row);

    auto* crumbScroll = new QScrollArea(header);
    crumbScroll->setFrameShape(QFrame::NoFrame);
    crumbScroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    crumbScroll->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    crumbScroll->setWidgetResizable(true);
    m_crumbs = new QWidget(crumbScroll);
    m_crumbLayout = new QHBoxLayout(m_crumbs);
    m_crumbLayout->setContentsMargins(0, 0, 0, 0);
    m_crumbLayout->setSpacing(6);
    crumbScroll->setWidget(m_crumbs);
    crumbScroll->setFixedHeight(QFontMetrics(paint::font(12)).height() + 14);
    column->addWidget(crumbScroll);

    m_problem = new QLabel(header);
    m_problem->setWordWrap(false);
    m_problem->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_problem->setStyleSheet(QStringLiteral("color: #b3261e;"));
    column->addWidget(m_problem);
    return header;
}

QWidget* FolderBrowserView::buildContent()
{
    m_content = new QStackedWidget(this);
    auto* empty = new QWidget(m_content);
    empty->setBackgroundRole(QPalette::Base);
    empty->setAutoFillBackground(true);
    auto* column = new QVBoxLayout(empty);
    column->setSpacing(10);
    column->addStretch();
    auto* symbol = new QLabel(empty);
    symbol->setPixmap(ResultSymbols::icon(QStringLiteral("folder")).pixmap(30, 30, QIcon::Disabled));
    symbol->setAlignment(Qt::AlignCenter);
    auto* text = new QLabel(QStringLiteral("这个文件夹里暂时没有可显示内容"), empty);
    text->setAlignment(Qt::AlignCenter);
    QPalette secondary = text->palette();
    secondary.setColor(QPalette::WindowText, paint::secondaryText(palette()));
    text->setPalette(secondary);
    // On the text background a label would draw in the text colour instead.
    text->setForegroundRole(QPalette::WindowText);
    column->addWidget(symbol);
    column->addWidget(text);
    column->addStretch();

    m_grid = new FolderBrowserGrid(m_model, m_thumbnails, *m_hints, m_content);
    connect(m_grid, &FolderBrowserGrid::activated, this, &FolderBrowserView::activate);
    connect(m_grid, &FolderBrowserGrid::openRequested, &m_model, &FolderBrowserModel::open);
    connect(m_grid, &FolderBrowserGrid::revealRequested, &m_model, &FolderBrowserModel::reveal);
    connect(m_grid, &FolderBrowserGrid::moveRequested, &m_model, &FolderBrowserModel::moveFileUrls);
    connect(m_grid, &FolderBrowserGrid::adjustZoomRequested, this, &FolderBrowserView::adjustGridZoom);
    m_content->addWidget(empty);
    m_content->addWidget(m_grid);
    return m_content;
}

void FolderBrowserView::installZoomShortcuts()
{
    const auto bind = [this](QKeySequence keys, auto action) {
        auto* shortcut = new QShortcut(keys, this);
        shortcut->setContext(Qt::WindowShortcut);
        connect(shortcut, &QShortcut::activated, this, action);
    };
    bind(QKeySequence(Qt::CTRL | Qt::Key_Equal), [this] { adjustGridZoom(1); });
    bind(QKeySequence(Qt::CTRL | Qt::Key_Plus), [this] { adjustGridZoom(1); });
    bind(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Plus), [this] { adjustGridZoom(1); });
    bind(QKeySequence(Qt::CTRL | Qt::Key_Minus), [this] { adjustGridZoom(-1); });
    bind(QKeySequence(Qt::CTRL | Qt::Key_0), [this] { resetGridZoom(); });
}

void FolderBrowserView::adjustGridZoom(double delta)
{
    setZoom(GridZoom::stepped(m_zoom, delta));
}

void FolderBrowserView::resetGridZoom()
{
    setZoom(1.0);
}

void FolderBrowserView::setZoom(double zoom)
{
    m_zoom = zoom;
    m_grid->setZoom(zoom);
}

void FolderBrowserView::showHistory()
{
    m_back->setEnabled(m_model.canGoBack());
    m_forward->setEnabled(m_model.canGoForward());
}

void FolderBrowserView::showPath()
{
    m_title->setText(m_model.title());
    m_path->setText(shownnames::shown(m_model.currentPath()));
    clearLayout(m_crumbLayout);
    const QList<FolderBreadcrumb> crumbs = m_model.breadcrumbs();
    for (qsizetype i = 0; i < crumbs.size(); ++i) {
        auto* button = new QPushButton(crumbs.at(i).title, m_crumbs);
        button->setFlat(true);
        button->setCursor(Qt::PointingHandCursor);
        button->setFont(paint::font(12));
        // A chip of the control background (the base colour) on the header's
        // window colour; without a border rule the style draws no background.
        button->setStyleSheet(QStringLiteral("QPushButton { padding: 6px 10px; border: none; border-radius: 7px;"
                                             " background: palette(base); }"));
        connect(button, &QPushButton::clicked, &m_model,
                [this, path = crumbs.at(i).path] { m_model.navigate(path, true); });
        m_crumbLayout->addWidget(button);
        if (i + 1 < crumbs.size()) {
            auto* chevron = new QLabel(m_crumbs);
            chevron->setPixmap(symbols::tinted(QStringLiteral("chevron.right"), kCrumbChevronSize,
                                               paint::tertiaryText(palette()), devicePixelRatioF()));
            m_crumbLayout->addWidget(chevron);
        }
    }
    m_crumbLayout->addStretch();
}

QStringList FolderBrowserView::breadcrumbTitles() const
{
    // The crumbs in the row: replaced ones stay children, hidden, until deleted.
    QStringList titles;
    for (int i = 0; i < m_crumbLayout->count(); ++i)
        if (const auto* button = qobject_cast<const QPushButton*>(m_crumbLayout->itemAt(i)->widget()))
            titles.append(button->text());
    return titles;
}

void FolderBrowserView::showItems()
{
    m_content->setCurrentWidget(m_model.items().isEmpty() ? m_content->widget(0) : m_grid);
    const QStringList signature = prefetchSignature(m_model.items());
    if (signature != m_prefetchSignature) {
        m_prefetchSignature = signature;
        prefetchTopPreviews();
    }
}

bool FolderBrowserView::showsEmptyText() const
{
    return m_content->currentWidget() != m_grid;
}

void FolderBrowserView::showMoveProblem()
{
    m_problem->setText(m_model.moveProblem());
    m_problem->setVisible(!m_model.moveProblem().isEmpty());
}

QString FolderBrowserView::moveProblemText() const
{
    return m_problem->isVisible() ? m_problem->text() : QString();
}

double FolderBrowserView::prefetchIconSize(double zoom)
{
    return GridMetrics::card(GridMetrics::kFolderBrowserGrid, GridMetrics::CardKind::Folder, zoom).iconSize;
}

QStringList FolderBrowserView::prefetchSignature(const QList<IndexedItem>& items)
{
    QStringList paths;
    for (qsizetype i = 0; i < std::min<qsizetype>(items.size(), kPrioritizedPreviewCount); ++i)
        paths.append(QString::fromUtf8(items.at(i).path()));
    return paths;
}

// Five at once, urgently; nine more after a short pause, and only when the
// folder is still the same, so quick navigation does not flood the renders.
void FolderBrowserView::prefetchTopPreviews()
{
    const QList<IndexedItem>& items = m_model.items();
    const QList<IndexedItem> urgent = items.mid(0, kUrgentPreviewCount);
    const QList<IndexedItem> normal = items.mid(kUrgentPreviewCount, kPrioritizedPreviewCount - kUrgentPreviewCount);
    if (urgent.isEmpty())
        return;
    const double size = prefetchIconSize(m_zoom);
    m_thumbnails.prefetch(urgent, size, false, ThumbnailProvider::PreviewPriority::Urgent);
    if (normal.isEmpty())
        return;
    QTimer::singleShot(kDeferredPrefetchMs, this, [this, signature = m_prefetchSignature, normal, size] {
        if (prefetchSignature(m_model.items()) == signature)
            m_thumbnails.prefetch(normal, size, false, ThumbnailProvider::PreviewPriority::Normal);
    });
}

void FolderBrowserView::activate(const IndexedItem& item)
{
    m_model.setSelectedItemID(QString::fromUtf8(item.path()));
    if (!item.isDirectory() && kinds::isImageExtension(item.fileExtension()))
        m_model.quickLook(item);
    else
        m_model.open(item);
}

} // namespace pallix
