#include "App/Search/SearchHistory.h"

#include <algorithm>
#include <vector>

#include "App/Context/AppContext.h"
#include "App/Search/SearchBudgets.h"
#include "Core/Config/EditionRule.h"
#include "Platform/Text.h"

namespace pallix {

namespace {

constexpr qsizetype kMaxHistoryEntries = 15;
constexpr std::size_t kMinHistoryCharacters = 2;

std::string trimmed(const std::string& text)
{
    return QString::fromStdString(text).trimmed().toStdString();
}

} // namespace

SearchHistory::SearchHistory(const AppContext& context, QObject* parent)
    : QObject(parent), m_context(context), m_entries(load(context.defaults()))
{
}

const std::string& SearchHistory::key()
{
    static const std::string key = editionDefaultsKey(DefaultsName::SearchHistory);
    return key;
}

void SearchHistory::setEntries(const QStringList& history)
{
    if (history == m_entries)
        return;
    m_entries = history;
    emit changed();
}

void SearchHistory::recordIfNeeded(const QString& text)
{
    const QString entry = text.trimmed();
    QStringList history = m_entries;
    const Clock::TimePoint now = m_context.clock().now();
    // Typed on from (or back to) the entry recorded a moment before: that
    // entry gives way, so that a word typed or deleted a letter at a time
    // leaves one entry, or none, not one per letter.
    const bool typedOver = m_lastRecordedAt && now - *m_lastRecordedAt < searchbudgets::kTypingThreshold
                           && !history.isEmpty() && history.front() == m_lastRecorded
                           && (entry.startsWith(m_lastRecorded) || m_lastRecorded.startsWith(entry));
    if (typedOver)
        history.removeFirst();
    // User-perceived characters, so that two Chinese characters qualify.
    if (entry.isEmpty() || text::graphemeCount(entry.toStdString()) < kMinHistoryCharacters) {
        if (typedOver) {
            m_lastRecordedAt.reset();
            setEntries(history);
            persist();
        }
        return;
    }
    // Only an entry this typing added may be replaced by it: one searched
    // before and typed through again stays.
    if (history.contains(entry)) {
        m_lastRecordedAt.reset();
    } else {
        m_lastRecorded = entry;
        m_lastRecordedAt = now;
    }
    history.removeAll(entry);
    history.prepend(entry);
    if (history.size() > kMaxHistoryEntries)
        history.resize(kMaxHistoryEntries);
    if (history == m_entries)
        return;
    setEntries(history);
    persist();
}

void SearchHistory::persist()
{
    std::vector<std::string> stored;
    for (qsizetype i = 0; i < std::min(m_entries.size(), kMaxHistoryEntries); ++i)
        stored.push_back(m_entries[i].toStdString());
    m_context.defaults().setStringListSoon(key(), stored);
}

QStringList SearchHistory::load(const Defaults& defaults)
{
    // Duplicates and short entries of the stored list stay: only recording
    // keeps the list unique.
    QStringList history;
    for (const std::string& stored : defaults.stringList(key()).value_or(std::vector<std::string>{})) {
        const QString entry = QString::fromStdString(stored).trimmed();
        if (!entry.isEmpty())
            history.append(entry);
        if (history.size() == kMaxHistoryEntries)
            break;
    }
    return history;
}

void SearchHistory::addCommonSearchTerm(const QString& term)
{
    const std::string added = term.trimmed().toStdString();
    if (added.empty())
        return;
    m_context.writeSettings([&added](AppSettings& record) {
        std::vector<std::string> terms{added};
        for (const std::string& existing : record.commonSearchTerms) {
            std::string entry = trimmed(existing);
            if (!entry.empty() && entry != added)
                terms.push_back(std::move(entry));
        }
        if (terms.size() > AppSettings::kMaxCommonSearchTerms)
            terms.resize(AppSettings::kMaxCommonSearchTerms);
        record.commonSearchTerms = std::move(terms);
    });
}

void SearchHistory::removeCommonSearchTerm(const std::set<int>& offsets)
{
    m_context.writeSettings([&offsets](AppSettings& record) {
        // Positions refer to the list before the removal: erase from the back.
        for (auto it = offsets.rbegin(); it != offsets.rend(); ++it) {
            if (*it >= 0 && static_cast<std::size_t>(*it) < record.commonSearchTerms.size())
                record.commonSearchTerms.erase(record.commonSearchTerms.begin() + *it);
        }
    });
}

} // namespace pallix
