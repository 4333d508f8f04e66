#include "UI/Results/ResultsCanvas.h"

#include <algorithm>
#include <utility>

#include <QApplication>
#include <QContextMenuEvent>
#include <QDrag>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QScopedValueRollback>
#include <QScreen>
#include <QScrollBar>
#include <QTimer>
#include <QVariantAnimation>
#include <QUrl>

#include "App/Search/SearchSession.h"
#include "App/Paths/SystemPaths.h"
#include "App/Preview/ThumbnailProvider.h"
#include "UI/Common/BandedScrollBarStyle.h"
#include "UI/Common/PointerPlace.h"
#include "UI/Common/ResultPainting.h"
#include "UI/Results/FolderVideoHints.h"
#include "UI/Results/HoverTip.h"
#include "UI/Results/InlineRenameField.h"
#include "UI/Results/ResultTexts.h"
#include "UI/Results/ResultsModel.h"

namespace pallix {

namespace {

// Below the pointer's arrow, where the toolkit puts its tips.
constexpr QPoint kBelowPointer(2, 20);
// Between a tip and what it stands beside.
constexpr int kTipGap = 6;

} // namespace

ResultsCanvas::ResultsCanvas(ResultsModel& rows, SearchSession& session, ThumbnailProvider& thumbnails, FolderVideoHints& hints,
                  QWidget* parent)
    : QAbstractScrollArea(parent), m_rows(rows), m_session(session), m_thumbnails(thumbnails), m_hints(hints)
{
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    useBandedScrollBarStyle(verticalScrollBar());
    viewport()->setMouseTracking(true);
    m_scrollAnimation = new QVariantAnimation(this);
    m_scrollAnimation->setDuration(140);
    m_scrollAnimation->setEasingCurve(QEasingCurve::OutCubic);
    connect(m_scrollAnimation, &QVariantAnimation::valueChanged, this,
            [this](const QVariant& value) { verticalScrollBar()->setValue(value.toInt()); });
    viewport()->setAutoFillBackground(false);
    // Every paint fills the whole viewport first: what lies beneath it need
    // not be painted again with each new list.
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    m_textOverlay = new SelectableTextOverlay(viewport());
    m_tip = new HoverTip(this);
    connect(m_textOverlay, &SelectableTextOverlay::pressed, this, &ResultsCanvas::selectPressedText);
    connect(&m_rows, &QAbstractItemModel::modelAboutToBeReset, this, &ResultsCanvas::rememberSelectionPlace);
    connect(&m_rows, &QAbstractItemModel::modelReset, this, [this] {
        m_selectedRow = std::nullopt;
        m_pressRow = -1;
        {
            const QScopedValueRollback hold(m_holdOverlays, true);
            layoutContent();
            keepSelectionPlace();
        }
        placeOverlays();
    });
    connect(&m_session, &SearchSession::selectedItemIDChanged, this, &ResultsCanvas::scrollToSelection);
    connect(&m_session.inlineRename(), &InlineRename::targetIDChanged, this, [this] {
        viewport()->update();
        placeRenameField();
        placeSelectableTexts();
    });
    connect(&m_thumbnails, &ThumbnailProvider::previewsChanged, viewport(), qOverload<>(&QWidget::update));
    connect(&m_hints, &FolderVideoHints::hintsArrived, viewport(), qOverload<>(&QWidget::update));
}

bool ResultsCanvas::folderHasVideo(const IndexedItem& item) const
{
    return item.isDirectory() && m_hints.hasVideo(item.path());
}

void ResultsCanvas::relayout()
{
    {
        const QScopedValueRollback hold(m_holdOverlays, true);
        layoutContent();
    }
    placeOverlays();
}

void ResultsCanvas::layoutContent()
{
    m_contentHeight = layoutRows(viewport()->width());
    QScrollBar* bar = verticalScrollBar();
    bar->setRange(0, std::max(0, m_contentHeight - viewport()->height()));
    bar->setPageStep(viewport()->height());
    bar->setSingleStep(24);
    viewport()->update();
}

void ResultsCanvas::placeOverlays()
{
    placeRenameField();
    hoverUnderPointer();
    placeSelectableTexts();
}

void ResultsCanvas::centerOnRow(int row, bool animated)
{
    if (row < 0 || row >= m_rows.rowCount())
        return;
    QScrollBar* bar = verticalScrollBar();
    const int target = std::clamp(rowRect(row).center().y() - viewport()->height() / 2, bar->minimum(), bar->maximum());
    m_scrollAnimation->stop();
    if (!animated || target == bar->value()) {
        bar->setValue(target);
        return;
    }
    m_scrollAnimation->setStartValue(bar->value());
    m_scrollAnimation->setEndValue(target);
    m_scrollAnimation->start();
}

// After the rows of a new list exist: the selection is published right after
// the list, and a reset in between would otherwise be scrolled by stale rows.
void ResultsCanvas::scrollToSelection()
{
    viewport()->update();
    QTimer::singleShot(0, this, [this] {
        const QString target = ResultsModel::scrollTargetID(m_session, m_session.selectedItemID());
        m_selectedRow = m_rows.rowOfId(target);
        centerOnRow(*m_selectedRow, true);
        placeSelectableTexts();
    });
}

// A list searched again while files change keeps the selected row where it
// stood on screen; a selection out of sight leaves the view where the user
// scrolled it.
void ResultsCanvas::rememberSelectionPlace()
{
    m_selectionPlace.reset();
    const QString& id = m_session.selectedItemID();
    const int row = m_rows.rowOfId(ResultsModel::scrollTargetID(m_session, id));
    if (row < 0)
        return;
    const QRect shown = rowRect(row).translated(0, -verticalScrollBar()->value());
    if (shown.intersects(viewport()->rect()))
        m_selectionPlace = SelectionPlace{id, shown.top()};
}

void ResultsCanvas::keepSelectionPlace()
{
    const std::optional<SelectionPlace> place = std::exchange(m_selectionPlace, std::nullopt);
    if (!place || place->id != m_session.selectedItemID())
        return;
    const int row = m_rows.rowOfId(ResultsModel::scrollTargetID(m_session, place->id));
    if (row >= 0)
        verticalScrollBar()->setValue(rowRect(row).top() - place->viewportTop);
}

bool ResultsCanvas::isSelected(const IndexedItem& item) const
{
    const QString& selected = m_session.selectedItemID();
    return !selected.isEmpty() && selected == QString::fromUtf8(item.path());
}

bool ResultsCanvas::isRenaming(const IndexedItem& item) const
{
    const QString& target = m_session.inlineRename().targetID();
    return !target.isEmpty() && target == QString::fromUtf8(item.path());
}

QPoint ResultsCanvas::toContent(QPoint viewportPos) const
{
    return viewportPos + QPoint(0, verticalScrollBar()->value());
}

void ResultsCanvas::paintBackground(QPainter& painter, const QRect& viewportRect)
{
    ResultPainting::fillInBands(painter, viewportRect, palette().base());
}

void ResultsCanvas::paintEvent(QPaintEvent*)
{
    QPainter painter(viewport());
    const QRect area = viewport()->rect();
    paintBackground(painter, area);
    const int offset = verticalScrollBar()->value();
    painter.translate(0, -offset);
    visibleRows(area.translated(0, offset), [&](int row) { paintRow(painter, row, rowRect(row)); });
}

void ResultsCanvas::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    relayout();
}

// Hidden in its window (the other display mode took its place) rather than
// with its window: coming back on screen scrolls to the selection, while a
// window shown again keeps the place the user left.
bool ResultsCanvas::event(QEvent* event)
{
    if (event->type() == QEvent::HideToParent)
        m_scrollWhenShown = true;
    return QAbstractScrollArea::event(event);
}

void ResultsCanvas::showEvent(QShowEvent* event)
{
    QAbstractScrollArea::showEvent(event);
    placeOverlays();
    if (std::exchange(m_scrollWhenShown, false))
        scrollToSelection();
}

void ResultsCanvas::hideEvent(QHideEvent* event)
{
    removeRenameField();
    m_tip->hide();
    QAbstractScrollArea::hideEvent(event);
    placeSelectableTexts();
}

void ResultsCanvas::scrollContentsBy(int, int)
{
    viewport()->update();
    if (!m_holdOverlays)
        placeOverlays();
}

void ResultsCanvas::placeSelectableTexts()
{
    std::vector<SelectableTextOverlay::Item> items;
    m_coveredRows = {-1, -1};
    const auto add = [&](int row) {
        if (row < 0 || row >= m_rows.rowCount() || row == m_coveredRows[0]
            || m_rows.rowAt(row).kind != ResultsModel::RowKind::Item)
            return;
        std::vector<SelectableTextOverlay::Text> texts = selectableTexts(row);
        for (SelectableTextOverlay::Text& text : texts)
            text.rect.translate(0, -verticalScrollBar()->value());
        m_coveredRows[items.size()] = row;
        items.push_back({m_rows.rowId(row), std::move(texts)});
    };
    if (isVisible()) {
        // Found once per list or selection: a search through every row on
        // each scroll step would cost the long lists their smoothness.
        if (!m_selectedRow)
            m_selectedRow = m_rows.rowOfId(ResultsModel::scrollTargetID(m_session, m_session.selectedItemID()));
        add(*m_selectedRow);
        add(m_hoveredRow);
    }
    m_textOverlay->show(items);
}

// A press on a label selects its item, as a press on the row does.
void ResultsCanvas::selectPressedText(const QString& rowId)
{
    if (const int row = m_rows.rowOfId(rowId); row >= 0)
        m_session.setSelectedItemID(QString::fromUtf8(m_rows.itemAt(row).path()));
}

void ResultsCanvas::placeRenameField()
{
    const QString target = m_session.inlineRename().targetID();
    const int row =
        target.isEmpty() || !isVisible() ? -1 : m_rows.rowOfId(ResultsModel::scrollTargetID(m_session, target));
    if (row < 0 || (m_renameField && m_renameField->property("path").toString() != target))
        removeRenameField();
    if (row < 0)
        return;
    if (!m_renameField) {
        m_renameField = new InlineRenameField(m_session, renameFieldPixelSize(), viewport());
        m_renameField->setProperty("path", target);
        connect(m_renameField, &InlineRenameField::commitRequested, this, &ResultsCanvas::commitInlineRenameRequested);
        connect(m_renameField, &InlineRenameField::cancelRequested, this, &ResultsCanvas::cancelInlineRenameRequested);
        connect(m_renameField, &InlineRenameField::editingEnded, this, &ResultsCanvas::inlineRenameEditingEnded);
    }
    // The zoom may have changed while the field was open.
    if (QFont font = m_renameField->font(); font.pixelSize() != renameFieldPixelSize()) {
        font.setPixelSize(renameFieldPixelSize());
        m_renameField->setFont(font);
    }
    m_renameField->setGeometry(nameRect(row).translated(0, -verticalScrollBar()->value()));
    m_renameField->show();
}

// The field may be in the middle of its own key handling: it goes later.
// The focus moves to us first, so that its focus loss reaches it whole.
void ResultsCanvas::removeRenameField()
{
    if (!m_renameField)
        return;
    InlineRenameField* field = m_renameField;
    m_renameField = nullptr;
    if (field->hasFocus() && isVisible())
        setFocus(Qt::OtherFocusReason);
    field->hide();
    field->deleteLater();
}

// The SKU-related rows have no context menu.
void ResultsCanvas::contextMenuEvent(QContextMenuEvent* event)
{
    const Hit hit = hitTest(toContent(event->pos()));
    if (hit.row < 0)
        return;
    const ResultsModel::Row& row = m_rows.rowAt(hit.row);
    if (row.kind != ResultsModel::RowKind::Item || row.section == ResultsModel::Section::SkuRelated)
        return;
    emit contextMenuRequested(m_rows.itemAt(hit.row), event->globalPos());
}

void ResultsCanvas::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mousePressEvent(event);
        return;
    }
    const Hit hit = hitTest(toContent(event->position().toPoint()));
    if (hit.row < 0) {
        // Empty space: no selection, and a rename in progress is abandoned.
        m_session.setSelectedItemID(QString());
        if (!m_session.inlineRename().targetID().isEmpty())
            emit cancelInlineRenameRequested();
        return;
    }
    if (hit.part == Part::ShowMore) {
        m_rows.setShowAllFuzzy(true);
        return;
    }
    if (m_rows.rowAt(hit.row).kind != ResultsModel::RowKind::Item)
        return;
    const IndexedItem item = m_rows.itemAt(hit.row);
    m_session.setSelectedItemID(QString::fromUtf8(item.path()));
    if (hit.part == Part::Action) {
        activateAction(hit.row, hit.action);
        return;
    }
    m_pressRow = hit.row;
    m_pressPos = event->position().toPoint();
}

// As the toolkit's lists do: a page is the item rows the viewport shows whole.
void ResultsCanvas::keyPressEvent(QKeyEvent* event)
{
    if ((event->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier) {
        QAbstractScrollArea::keyPressEvent(event);
        return;
    }
    switch (event->key()) {
    case Qt::Key_PageUp: m_session.moveSelection(-itemsPerPage()); break;
    case Qt::Key_PageDown: m_session.moveSelection(itemsPerPage()); break;
    case Qt::Key_Home: m_session.selectFirstResult(); break;
    case Qt::Key_End: m_session.selectLastResult(); break;
    default: QAbstractScrollArea::keyPressEvent(event); return;
    }
    event->accept();
}

int ResultsCanvas::itemsPerPage() const
{
    const QRect shown = viewport()->rect().translated(0, verticalScrollBar()->value());
    int items = 0;
    visibleRows(shown, [&](int row) {
        if (m_rows.rowAt(row).kind == ResultsModel::RowKind::Item && shown.contains(rowRect(row)))
            ++items;
    });
    return std::max(items, 1);
}

void ResultsCanvas::mouseReleaseEvent(QMouseEvent* event)
{
    m_pressRow = -1;
    QAbstractScrollArea::mouseReleaseEvent(event);
}

// The item leaves as a file location, which file managers and editors take.
void ResultsCanvas::startDrag(int row)
{
    const IndexedItem& item = m_rows.itemAt(row);
    const QString path = QString::fromUtf8(item.path());
    auto* mime = new QMimeData;
    mime->setUrls({systempaths::url(path)});
    auto* drag = new QDrag(this);
    drag->setMimeData(mime);
    drag->setPixmap(m_thumbnails.fallbackImage(path, item.isDirectory(), 32));
    drag->exec(Qt::CopyAction | Qt::LinkAction, Qt::CopyAction);
}

void ResultsCanvas::mouseDoubleClickEvent(QMouseEvent* event)
{
    const Hit hit = hitTest(toContent(event->position().toPoint()));
    if (hit.row < 0 || hit.part != Part::Icon || m_rows.rowAt(hit.row).kind != ResultsModel::RowKind::Item) {
        mousePressEvent(event);
        return;
    }
    const IndexedItem item = m_rows.itemAt(hit.row);
    m_session.setSelectedItemID(QString::fromUtf8(item.path()));
    if (!isRenaming(item))
        emit openItemRequested(item);
}

void ResultsCanvas::activateAction(int row, int action)
{
    const IndexedItem item = m_rows.itemAt(row);
    switch (action) {
    case 0: emit scopeToItemRequested(item); break;
    case 1: emit openItemRequested(item); break;
    case 2: emit revealItemRequested(item); break;
    default: break;
    }
}

void ResultsCanvas::mouseMoveEvent(QMouseEvent* event)
{
    if ((event->buttons() & Qt::LeftButton) && m_pressRow >= 0
        && (event->position().toPoint() - m_pressPos).manhattanLength() >= QApplication::startDragDistance()) {
        const int row = m_pressRow;
        m_pressRow = -1;
        startDrag(row);
        return;
    }
    const Hit hit = hitTest(toContent(event->position().toPoint()));
    const bool isItem = hit.row >= 0 && m_rows.rowAt(hit.row).kind == ResultsModel::RowKind::Item;
    setHover(isItem ? hit.row : -1, hit.part == Part::Action ? hit.action : -1);
    QAbstractScrollArea::mouseMoveEvent(event);
}

void ResultsCanvas::leaveEvent(QEvent* event)
{
    setHover(-1, -1);
    QAbstractScrollArea::leaveEvent(event);
}

void ResultsCanvas::hoverUnderPointer()
{
    int row = -1;
    int action = -1;
    if (const std::optional<QPoint> pointer = pointerIn(*viewport())) {
        const Hit hit = hitTest(toContent(*pointer));
        if (hit.row >= 0 && m_rows.rowAt(hit.row).kind == ResultsModel::RowKind::Item) {
            row = hit.row;
            action = hit.part == Part::Action ? hit.action : -1;
        }
    }
    m_hoveredRow = row;
    m_hoveredAction = action;
    // A tip tells of the item under the pointer, or goes.
    if (m_tip->isVisible() && (row < 0 || m_rows.rowId(row) != m_tipRowId))
        m_tip->hide();
}

void ResultsCanvas::setHover(int row, int action)
{
    if (row == m_hoveredRow && action == m_hoveredAction)
        return;
    const int offset = verticalScrollBar()->value();
    for (int r : {m_hoveredRow, row}) {
        if (r >= 0 && r < m_rows.rowCount())
            viewport()->update(rowRect(r).translated(0, -offset).adjusted(-12, -12, 12, 12));
    }
    const bool rowChanged = row != m_hoveredRow;
    m_hoveredRow = row;
    m_hoveredAction = action;
    if (rowChanged) {
        m_tip->hide();
        placeSelectableTexts();
    }
}

bool ResultsCanvas::viewportEvent(QEvent* event)
{
    if (event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        const Hit hit = hitTest(toContent(help->pos()));
        if (hit.row >= 0 && m_rows.rowAt(hit.row).kind == ResultsModel::RowKind::Item)
            showTip(hit.row, help->pos());
        else
            m_tip->hide();
        return true;
    }
    return QAbstractScrollArea::viewportEvent(event);
}

void ResultsCanvas::showTip(int row, QPoint pointer)
{
    m_tipRowId = m_rows.rowId(row);
    m_tip->showText(ResultTexts::hoverHelpText(m_rows.itemAt(row)),
                    [&](QSize size) { return tipPlace(row, pointer, size); });
}

// Below the pointer when that is free, as tips usually stand; else beside the
// item's name level with its top (the list's other columns, the grid's next
// previews); else over the item's own top; else above the pointer.
QPoint ResultsCanvas::tipPlace(int row, QPoint pointer, QSize size) const
{
    const int offset = verticalScrollBar()->value();
    const QRect item = rowRect(row).translated(0, -offset);
    const QRect name = nameRect(row).translated(0, -offset);
    const QPoint places[] = {pointer + kBelowPointer, QPoint(name.right() + kTipGap, item.top()),
                             item.topLeft() + QPoint(kTipGap, kTipGap),
                             pointer - QPoint(0, size.height() + kTipGap)};
    // A card's name may take two lines.
    std::vector<QRect> names;
    visibleRows(viewport()->rect().translated(0, offset), [&](int other) {
        if (other != row && m_rows.rowAt(other).kind == ResultsModel::RowKind::Item) {
            const QRect otherName = nameRect(other).translated(0, -offset);
            names.push_back(otherName.adjusted(0, 0, 0, otherName.height()));
        }
    });
    const QPoint origin = viewport()->mapToGlobal(QPoint(0, 0));
    const QRect screen = viewport()->screen()->availableGeometry().translated(-origin);
    const auto onScreen = [&](QPoint at) {
        QRect tip(at, size);
        tip.moveRight(std::min(tip.right(), screen.right()));
        tip.moveBottom(std::min(tip.bottom(), screen.bottom()));
        tip.moveLeft(std::max(tip.left(), screen.left()));
        tip.moveTop(std::max(tip.top(), screen.top()));
        return tip;
    };
    for (const QPoint& at : places) {
        const QRect tip = onScreen(at);
        if (std::none_of(names.begin(), names.end(), [&](const QRect& other) { return other.intersects(tip); }))
            return tip.topLeft() + origin;
    }
    return onScreen(places[1]).topLeft() + origin;
}

} // namespace pallix
