#include "App/Search/SkuRelatedSearch.h"

#include <algorithm>
#include <unordered_set>

#include <QPointer>

#include "App/Context/AppContext.h"
#include "App/Search/SearchSession.h"
#include "Core/IndexDB/IndexStore.h"
#include "Platform/Text.h"

namespace pallix {

namespace {

// Office formats count even where the kind vocabulary files them elsewhere.
bool isDocumentHit(const IndexedItem& item)
{
    static const std::unordered_set<std::string_view> office{"ppt", "pptx", "doc", "docx", "xls", "xlsx"};
    return !item.isDirectory()
           && (kinds::isDocumentExtension(item.fileExtension()) || office.contains(item.fileExtension()));
}

} // namespace

SkuRelatedSearch::SkuRelatedSearch(const AppContext& context, SearchSession& session)
    : m_context(context), m_session(session)
{
}

SkuRelatedSearch::~SkuRelatedSearch()
{
    cancel();
}

bool SkuRelatedSearch::isWanted(const SearchQuery& query, const AppSettings& settings)
{
    if (!settings.includeLocalInSearch || query.useRegularExpression || query.wildcardPattern || query.pathFilter
        || query.extensionFilter || query.typeFilter
        || query.contentFilters != std::set<SearchContentFilter>{SearchContentFilter::All}
        || query.nameWords.size() != 1)
        return false;
    // The word as typed: the tokens are cut at "-" and "_", which a code may hold.
    const QString token = QString::fromStdString(query.nameWords.front()).trimmed();
    if (text::graphemeCount(token.toStdString()) < 4)
        return false;
    bool hasDigit = false;
    for (const char32_t c : token.toUcs4()) {
        if (c == U'-' || c == U'_')
            continue;
        if (!text::isLetterMarkOrNumber(c))
            return false;
        hasDigit = hasDigit || QChar::category(c) == QChar::Number_DecimalDigit;
    }
    return hasDigit;
}

void SkuRelatedSearch::cancel()
{
    m_job.cancel();
}

std::vector<std::string> SkuRelatedSearch::candidateFolders(const QList<IndexedItem>& baseHits)
{
    std::vector<std::string> folders;
    int documents = 0;
    for (const IndexedItem& item : baseHits) {
        if (documents == kMaxDocuments)
            break;
        if (!isDocumentHit(item))
            continue;
        ++documents;
        if (std::find(folders.begin(), folders.end(), item.parentPath()) == folders.end())
            folders.emplace_back(item.parentPath());
    }
    if (folders.size() > static_cast<std::size_t>(kMaxFolders))
        folders.resize(kMaxFolders);
    return folders;
}

QList<IndexedItem> SkuRelatedSearch::gather(const std::vector<std::string>& folders, const FolderLister& list,
                                            const CancelToken* cancel)
{
    QList<IndexedItem> related;
    related.reserve(420);
    std::unordered_set<std::string> seen;
    for (const std::string& folder : folders) {
        if (cancel && cancel->isCancelled())
            return {};
        for (IndexedItem& item : list(folder, kPerFolder)) {
            if (related.size() == kMaxItems)
                break;
            if (seen.emplace(item.path()).second)
                related.append(std::move(item));
        }
        if (related.size() == kMaxItems)
            break;
    }
    std::sort(related.begin(), related.end(), comesBefore);
    return related;
}

bool SkuRelatedSearch::comesBefore(const IndexedItem& a, const IndexedItem& b)
{
    const int kindA = IndexedItem::displayKindOrder(a);
    const int kindB = IndexedItem::displayKindOrder(b);
    if (kindA != kindB)
        return kindA < kindB;
    // Names equal under the collation fall through to the paths, so the
    // order stays strict and weak.
    if (const int byName = text::compareZhCaseInsensitive(a.name(), b.name()); byName != 0)
        return byName < 0;
    return text::compareZhCaseInsensitive(a.path(), b.path()) < 0;
}

void SkuRelatedSearch::schedule(const QList<IndexedItem>& baseHits, std::int64_t generation)
{
    std::vector<std::string> folders = candidateFolders(baseHits);
    if (folders.empty())
        return;
    m_job.cancel();
    m_job = JobHandle::start();
    run(std::move(folders), generation, m_job.token());
}

QCoro::Task<> SkuRelatedSearch::run(std::vector<std::string> folders, std::int64_t generation,
                                    std::shared_ptr<CancelToken> token)
{
    QPointer<SearchSession> guard(&m_session);
    auto gathering = m_context.onPool([store = m_context.stores().local, folders, token] {
        if (!store)
            return QList<IndexedItem>();
        const auto list = [&store](const std::string& folder, int limit) {
            return store->relatedItemsInFolder(folder, limit);
        };
        return gather(folders, list, token.get());
    });
    QList<IndexedItem> related = co_await gathering;
    // The session owns this object: while the guard holds, `this` lives too.
    if (!guard || token->isCancelled() || generation != m_session.searchGeneration())
        co_return;
    m_session.setSkuRelatedResults(std::move(related));
}

} // namespace pallix
