#pragma once
// ResultsModel: the flat display rows of the results area, shared by the list
// and the grid. It reads the session's four published result lists and its
// content filters, keeps the items that pass the filters, and lays them out in
// the fixed section order (main, image-content, SKU-related, shared-drive) with
// a divider and a header before every section but the first and the
// image-content show-more row. Each published change is one model reset. The
// rows carry their section-qualified identifier and their list parity; the
// selection is not part of the rows (views compare the bare path).
// GUI thread only.

#include <array>
#include <set>
#include <vector>

#include <QAbstractListModel>
#include <QString>

#include "App/Search/SearchSession.h"
#include "UI/Common/GridMetrics.h"

namespace pallix {

class ResultsModel : public QAbstractListModel {
    Q_OBJECT

public:
    enum class RowKind { Item, SectionHeader, Divider, ShowMore, Count };
    enum class Section { Main, ImageFuzzy, SkuRelated, Server, Count };
    // How a grid card is drawn: decided once per reset, used by every layout.
    using CardKind = GridMetrics::CardKind;
    enum Role {
        KindRole = Qt::UserRole + 1,  // RowKind as int
        SectionRole,                  // Section as int
        ItemRole,                     // IndexedItem (item rows)
        RowIdRole,                    // "fuzzy-"/"server-" + path, or the path
        PathRole,                     // the bare path (item rows)
        AlternateRole,                // the row takes the alternate tint
        CountRole,                    // header: the section's count; show-more: hidden items
    };

    struct Row {
        RowKind kind = RowKind::Item;
        Section section = Section::Main;
        int index = 0;  // item rows: position in the section's filtered list
        CardKind card = CardKind::Other;
        bool alternate = false;
    };

    static constexpr int kFuzzyInitialDisplayLimit = 600;
    // Rows show their hover actions while the filtered main list is at most this long.
    static constexpr int kInlineActionsLimit = 120;

    explicit ResultsModel(SearchSession& session, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    // Direct access for painting, without variants. `row` must be valid.
    const Row& rowAt(int row) const { return m_rows[static_cast<std::size_t>(row)]; }
    const IndexedItem& itemAt(int row) const;
    QString rowId(int row) const;
    // The first row with the identifier, or -1.
    int rowOfId(const QString& rowId) const;

    int filteredCount(Section section) const { return static_cast<int>(list(section).size()); }
    // A section's items after the content filters, the image-content cut not applied.
    const ItemList& filteredItems(Section section) const { return list(section); }
    // How many image-content matches are shown (the first ones of the section).
    int displayedFuzzyCount() const { return m_displayedFuzzy; }
    int hiddenFuzzyCount() const { return filteredCount(Section::ImageFuzzy) - m_displayedFuzzy; }
    bool showsInlineActions() const { return filteredCount(Section::Main) <= kInlineActionsLimit; }
    // Nothing survived the content filters in any section.
    bool isEmpty() const;

    // The user asked to see every image-content match; cleared when the area
    // comes on screen again.
    bool showAllFuzzy() const { return m_showAllFuzzy; }
    void setShowAllFuzzy(bool showAll);

    static bool passesContentFilters(const IndexedItem& item, const std::set<SearchContentFilter>& filters);
    // The identifier to scroll to for a selected path, from the unfiltered
    // lists in section order; empty when no list holds the path.
    static QString scrollTargetID(const SearchSession& session, const QString& path);
    static QString rowIdFor(Section section, const IndexedItem& item);
    static QString sectionTitle(Section section);
    static QString sectionSubtitle(Section section);

private:
    const ItemList& list(Section section) const { return m_lists[static_cast<std::size_t>(section)]; }
    void rebuild();
    void appendSection(Section section, int shown, int parityOffset);

    SearchSession& m_session;
    std::array<ItemList, static_cast<std::size_t>(Section::Count)> m_lists;  // filtered, order kept
    std::vector<Row> m_rows;
    int m_displayedFuzzy = 0;
    bool m_showAllFuzzy = false;
};

} // namespace pallix
