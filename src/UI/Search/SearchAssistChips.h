#pragma once
// SearchAssistChips: what the search-assist row shows, worked out from the
// model's common terms, history and search text. Pure functions.

#include <string>
#include <vector>

#include <QList>
#include <QString>
#include <QStringList>

namespace pallix {

enum class SearchTermChipStyle { Common, History };

// One chip. A chip is identified by its style and text: a list shows each
// text once, so a delete removes exactly the entry its chip stands for.
struct SearchTermChip {
    QString text;
    SearchTermChipStyle style = SearchTermChipStyle::Common;

    friend bool operator==(const SearchTermChip&, const SearchTermChip&) = default;
};

struct SearchAssistContent {
    static constexpr int kMaxHistoryChips = 15;

    QList<SearchTermChip> chips;   // the common terms, then the history-only terms
    bool showsSaveCurrent = false; // "收藏当前": the trimmed search text is not empty

    // No chip: the row is not drawn at all, "收藏当前" included.
    bool isEmpty() const { return chips.isEmpty(); }
};

// Common terms in stored order, then the history entries that equal no common
// term exactly, the first 15 of them; a repeated text shows once (first wins).
SearchAssistContent composeSearchAssist(const std::vector<std::string>& commonTerms, const QStringList& history,
                                        const QString& searchText);

} // namespace pallix
