#include "UI/Results/ResultsModel.h"

#include <algorithm>
#include <utility>

#include <QThreadPool>

#include "App/Paths/ShownNames.h"
#include "Core/Search/PreparedQuery.h"
#include "Core/Search/SearchFilters.h"

namespace pallix {

namespace {

constexpr std::size_t at(ResultsModel::Section section) { return static_cast<std::size_t>(section); }

// Lists a reset replaced are often the last hold on a thousand records or
// more; freeing them took a good part of a millisecond before the paint.
// Below this many records the hand-off costs more than it saves.
constexpr qsizetype kRecordsFreedElsewhere = 64;

template <class Lists>
void freeOnPool(Lists lists)
{
    qsizetype records = 0;
    for (const ItemList& list : lists)
        records += list.size();
    if (records >= kRecordsFreedElsewhere)
        QThreadPool::globalInstance()->start([lists = std::move(lists)]() mutable { lists = {}; });
}

// The engine's own category rule, so the view and the search never disagree
// on what a filter admits.
ItemList filtered(const ItemList& items, unsigned mask)
{
    if (mask == 0)
        return items;  // shared, no copy
    ItemList kept;
    for (const IndexedItem& item : items) {
        if (matchesContentMask(item.ref(), mask))
            kept.append(item);
    }
    return kept;
}

} // namespace

ResultsModel::ResultsModel(SearchSession& session, QObject* parent) : QAbstractListModel(parent), m_session(session)
{
    for (auto signal : {&SearchSession::resultsChanged, &SearchSession::imageFuzzyResultsChanged,
                        &SearchSession::skuRelatedResultsChanged, &SearchSession::serverResultsChanged})
        connect(&m_session, signal, this, &ResultsModel::rebuild);
    connect(&m_session.constraints(), &SearchConstraints::contentFiltersChanged, this, &ResultsModel::rebuild);
    rebuild();
}

int ResultsModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

QVariant ResultsModel::data(const QModelIndex& index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const Row& row = rowAt(index.row());
    const bool isItem = row.kind == RowKind::Item;
    switch (role) {
    case Qt::DisplayRole:
        return isItem ? QVariant(shownnames::shown(itemAt(index.row()).name()))
                      : row.kind == RowKind::SectionHeader ? QVariant(sectionTitle(row.section)) : QVariant();
    case KindRole: return static_cast<int>(row.kind);
    case SectionRole: return static_cast<int>(row.section);
    case ItemRole: return isItem ? QVariant::fromValue(itemAt(index.row())) : QVariant();
    case RowIdRole: return isItem ? QVariant(rowId(index.row())) : QVariant();
    case PathRole: return isItem ? QVariant(QString::fromUtf8(itemAt(index.row()).path())) : QVariant();
    case AlternateRole: return row.alternate;
    case CountRole:
        return row.kind == RowKind::SectionHeader ? QVariant(filteredCount(row.section))
               : row.kind == RowKind::ShowMore    ? QVariant(hiddenFuzzyCount())
                                                  : QVariant();
    }
    return {};
}

QHash<int, QByteArray> ResultsModel::roleNames() const
{
    QHash<int, QByteArray> names = QAbstractListModel::roleNames();
    names.insert({{KindRole, "kind"}, {SectionRole, "section"}, {ItemRole, "item"}, {RowIdRole, "rowId"},
                  {PathRole, "path"}, {AlternateRole, "alternate"}, {CountRole, "count"}});
    return names;
}

Qt::ItemFlags ResultsModel::flags(const QModelIndex& index) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return Qt::NoItemFlags;
    return rowAt(index.row()).kind == RowKind::Item ? Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren
                                                    : Qt::ItemIsEnabled | Qt::ItemNeverHasChildren;
}

const IndexedItem& ResultsModel::itemAt(int row) const
{
    const Row& r = rowAt(row);
    Q_ASSERT(r.kind == RowKind::Item);
    return list(r.section)[r.index];
}

QString ResultsModel::rowId(int row) const
{
    const Row& r = rowAt(row);
    return r.kind == RowKind::Item ? rowIdFor(r.section, itemAt(row)) : QString();
}

int ResultsModel::rowOfId(const QString& id) const
{
    if (id.isEmpty())
        return -1;
    // Parsed once and compared as paths: no identifier is built per row.
    std::vector<Section> sections{Section::Main, Section::SkuRelated};
    QString path = id;
    for (const auto& [prefix, section] : {std::pair{QStringLiteral("fuzzy-"), Section::ImageFuzzy},
                                          std::pair{QStringLiteral("server-"), Section::Server}}) {
        if (id.startsWith(prefix)) {
            sections = {section};
            path = id.mid(prefix.size());
        }
    }
    const std::string wanted = path.toStdString();
    for (int row = 0; row < rowCount(); ++row) {
        const Row& r = rowAt(row);
        if (r.kind == RowKind::Item && std::find(sections.begin(), sections.end(), r.section) != sections.end()
            && itemAt(row).path() == wanted)
            return row;
    }
    return -1;
}

bool ResultsModel::isEmpty() const
{
    return std::all_of(m_lists.begin(), m_lists.end(), [](const ItemList& l) { return l.isEmpty(); });
}

void ResultsModel::setShowAllFuzzy(bool showAll)
{
    if (showAll == m_showAllFuzzy)
        return;
    m_showAllFuzzy = showAll;
    rebuild();
}

bool ResultsModel::passesContentFilters(const IndexedItem& item, const std::set<SearchContentFilter>& filters)
{
    return matchesContentMask(item.ref(), PreparedQuery::contentMaskOf(filters));
}

QString ResultsModel::scrollTargetID(const SearchSession& session, const QString& path)
{
    if (path.isEmpty())
        return {};
    const std::string wanted = path.toStdString();
    const std::pair<const ItemList*, Section> lists[] = {{&session.results(), Section::Main},
                                                         {&session.imageFuzzyResults(), Section::ImageFuzzy},
                                                         {&session.skuRelatedResults(), Section::SkuRelated},
                                                         {&session.serverResults(), Section::Server}};
    for (const auto& [items, section] : lists) {
        for (const IndexedItem& item : *items) {
            if (item.path() == wanted)
                return rowIdFor(section, item);
        }
    }
    return {};
}

QString ResultsModel::rowIdFor(Section section, const IndexedItem& item)
{
    const QString path = QString::fromUtf8(item.path());
    switch (section) {
    case Section::ImageFuzzy: return QStringLiteral("fuzzy-") + path;
    case Section::Server: return QStringLiteral("server-") + path;
    default: return path;
    }
}

QString ResultsModel::sectionTitle(Section section)
{
    switch (section) {
    case Section::ImageFuzzy: return QStringLiteral("图片内容匹配（实验）");
    case Section::SkuRelated: return QStringLiteral("SKU 关联素材");
    case Section::Server: return QStringLiteral("共享盘结果");
    default: return {};
    }
}

QString ResultsModel::sectionSubtitle(Section section)
{
    switch (section) {
    case Section::ImageFuzzy: return QStringLiteral("显示在主结果之后；按文件夹→图片→文档→视频分组，组内遵循当前排序设置");
    case Section::SkuRelated: return QStringLiteral("当搜索词像 SKU 且命中到相关文档时，自动补同文件夹的图片/文件夹");
    case Section::Server: return QStringLiteral("来自共享盘独立索引库；默认关闭，开启后异步补充");
    default: return {};
    }
}

void ResultsModel::rebuild()
{
    beginResetModel();
    const unsigned mask = PreparedQuery::contentMaskOf(m_session.constraints().contentFilters());
    auto replaced = std::exchange(m_lists, {});
    m_lists[at(Section::Main)] = filtered(m_session.results(), mask);
    m_lists[at(Section::ImageFuzzy)] = filtered(m_session.imageFuzzyResults(), mask);
    m_lists[at(Section::SkuRelated)] = filtered(m_session.skuRelatedResults(), mask);
    m_lists[at(Section::Server)] = filtered(m_session.serverResults(), mask);
    const int fuzzy = filteredCount(Section::ImageFuzzy);
    m_displayedFuzzy = m_showAllFuzzy ? fuzzy : std::min(fuzzy, kFuzzyInitialDisplayLimit);

    const int local = filteredCount(Section::Main);
    m_rows.clear();
    m_rows.reserve(static_cast<std::size_t>(local + m_displayedFuzzy + filteredCount(Section::SkuRelated)
                                            + filteredCount(Section::Server) + 8));
    appendSection(Section::Main, local, 0);
    appendSection(Section::ImageFuzzy, m_displayedFuzzy, local);
    if (hiddenFuzzyCount() > 0)
        m_rows.push_back(Row{RowKind::ShowMore, Section::ImageFuzzy, 0, CardKind::Other, false});
    // The hidden image-content matches count for the parity of what follows,
    // so the shading does not jump when they are shown.
    appendSection(Section::SkuRelated, filteredCount(Section::SkuRelated), local + fuzzy);
    appendSection(Section::Server, filteredCount(Section::Server), local + fuzzy);
    endResetModel();
    freeOnPool(std::move(replaced));
}

void ResultsModel::appendSection(Section section, int shown, int parityOffset)
{
    if (shown == 0)
        return;
    if (section != Section::Main) {
        m_rows.push_back(Row{RowKind::Divider, section, 0, CardKind::Other, false});
        m_rows.push_back(Row{RowKind::SectionHeader, section, 0, CardKind::Other, false});
    }
    const ItemList& items = list(section);
    for (int i = 0; i < shown; ++i)
        m_rows.push_back(Row{RowKind::Item, section, i, GridMetrics::cardKind(items[i]), ((parityOffset + i) & 1) != 0});
}

} // namespace pallix
