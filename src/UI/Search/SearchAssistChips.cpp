#include "UI/Search/SearchAssistChips.h"

#include "Core/Config/AppSettings.h"

#include <QSet>

namespace pallix {

SearchAssistContent composeSearchAssist(const std::vector<std::string>& commonTerms, const QStringList& history,
                                        const QString& searchText)
{
    SearchAssistContent content;
    // Loaded lists may repeat a text; two chips of one text would share one identity.
    QSet<QString> common;
    // A chip is a widget: only as many as the list may hold, whatever it holds.
    for (const std::string& stored : commonTerms) {
        if (common.size() == static_cast<qsizetype>(AppSettings::kMaxCommonSearchTerms))
            break;
        const QString term = QString::fromStdString(stored);
        if (!common.contains(term)) {
            common.insert(term);
            content.chips.append({term, SearchTermChipStyle::Common});
        }
    }
    // Canonically equivalent entries are one entry to the history's delete.
    QSet<QString> shown;
    for (const QString& entry : history) {
        if (shown.size() == SearchAssistContent::kMaxHistoryChips)
            break;
        const QString canonical = entry.normalized(QString::NormalizationForm_C);
        if (common.contains(entry) || shown.contains(canonical))
            continue;
        shown.insert(canonical);
        content.chips.append({entry, SearchTermChipStyle::History});
    }
    content.showsSaveCurrent = !content.isEmpty() && !searchText.trimmed().isEmpty();
    return content;
}

} // namespace pallix
