// SearchSession: the selection, the arrow keys and the preview of the selection.

#include "App/Search/SearchSession.h"

#include <algorithm>

#include <QPointer>
#include <QUrl>

#include "App/Paths/SystemPaths.h"
#include "App/Preview/PreviewController.h"
#include "Platform/Text.h"

namespace pallix {

namespace {

// Paths are one text under canonical equivalence: a selection typed or pasted
// in decomposed form still names its item.
const IndexedItem* findByPath(const ItemList& items, const text::CanonicalMatch& names)
{
    const auto it =
        std::find_if(items.begin(), items.end(), [&](const IndexedItem& item) { return names(item.path()); });
    return it == items.end() ? nullptr : &*it;
}

} // namespace

std::optional<IndexedItem> SearchSession::selectedItem() const
{
    if (m_selectedItemID.isEmpty())
        return std::nullopt;
    const text::CanonicalMatch path(m_selectedItemID.toStdString());
    for (const ItemList* list : {&m_results, &m_imageFuzzyResults, &m_serverResults}) {
        if (const IndexedItem* item = findByPath(*list, path))
            return *item;
    }
    return std::nullopt;
}

void SearchSession::moveSelection(int offset)
{
    if (m_results.isEmpty()) {
        setSelectedItemID({});
        return;
    }
    const IndexedItem* selected = m_selectedItemID.isEmpty()
                                      ? nullptr
                                      : findByPath(m_results, text::CanonicalMatch(m_selectedItemID.toStdString()));
    if (!selected) {
        setSelectedItemID(QString::fromUtf8(m_results.constFirst().id()));
        return;
    }
    const qsizetype index = std::clamp<qsizetype>((selected - m_results.constData()) + offset, 0, m_results.size() - 1);
    setSelectedItemID(QString::fromUtf8(m_results[index].id()));
}

void SearchSession::selectFirstResult()
{
    setSelectedItemID(m_results.isEmpty() ? QString() : QString::fromUtf8(m_results.constFirst().id()));
}

void SearchSession::selectLastResult()
{
    setSelectedItemID(m_results.isEmpty() ? QString() : QString::fromUtf8(m_results.constLast().id()));
}

void SearchSession::selectRenamedItem(const QString& oldPath, const QString& newPath)
{
    m_renamedSelection =
        RenamedSelection{oldPath.toStdString(), newPath.toStdString(), IndexedItem::from(newPath.toStdString())};
    setSelectedItemID(newPath);
    ItemList items = m_results;
    if (placeRenamedItem(items) >= 0)
        setResults(std::move(items));
}

void SearchSession::previewSelected()
{
    const std::optional<IndexedItem> selected = selectedItem();
    if (!selected)
        return;
    m_previewBuildTask.cancel();
    const QUrl url = systempaths::url(selected->path());
    // Space on what the panel already shows (the item or its folder's
    // sequence) closes it, and no sequence follows to open it again.
    if (m_links.preview->isShowing(url)) {
        m_links.preview->closePanel();
        return;
    }
    const std::optional<QuickLookSequence::Kind> kind = QuickLookSequence::kindOf(*selected);
    // The panel opens on the item at once; the folder's sequence follows.
    m_links.preview->togglePreview({url}, 0);
    if (!kind)
        return;
    m_previewBuildTask = JobHandle::start();
    runPreviewSequence(*selected, *kind, m_previewBuildTask.token());
}

QCoro::Task<> SearchSession::runPreviewSequence(IndexedItem selected, QuickLookSequence::Kind sequenceKind,
                                           std::shared_ptr<CancelToken> token)
{
    QPointer<SearchSession> guard(this);
    // The lists are implicitly shared: these copies cost nothing until the
    // model publishes new ones.
    auto building = m_context.onPool([selected, sequenceKind, results = m_results, images = m_imageFuzzyResults,
                            sku = m_skuRelatedResults, server = m_serverResults] {
        return QuickLookSequence::build(selected, sequenceKind, QuickLookSequence::perFolderLimit(sequenceKind),
                                        results, images, sku, server);
    });
    const QList<IndexedItem> sequence = co_await building;
    if (!guard || token->isCancelled())
        co_return;
    QList<QUrl> urls;
    int index = -1;
    for (const IndexedItem& item : sequence) {
        if (index < 0 && item.path() == selected.path())
            index = static_cast<int>(urls.size());
        urls.append(systempaths::url(item.path()));
    }
    // A selection that moved meanwhile keeps the panel as it was opened.
    if (m_selectedItemID.isEmpty() || !text::canonicallyEqual(m_selectedItemID.toStdString(), selected.path()))
        co_return;
    // Replaced, not toggled: toggling would close the panel just opened when
    // the sequence is that one item. A panel closed meanwhile stays closed.
    m_links.preview->replaceShown(urls, std::max(index, 0));
}

} // namespace pallix
