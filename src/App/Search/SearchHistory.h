#pragma once
// SearchHistory: the recent searches (kept in the user defaults, newest
// first, at most 15) and the common search terms (kept in the settings
// record). The search session records a finished search here; the settings
// window's history section and the search field's chips show it. GUI thread
// only.

#include <optional>
#include <set>
#include <string>

#include <QObject>
#include <QString>
#include <QStringList>

#include "Platform/Clock.h"

namespace pallix {

class AppContext;
class Defaults;

class SearchHistory : public QObject {
    Q_OBJECT

    Q_PROPERTY(QStringList entries READ entries WRITE setEntries NOTIFY changed)

public:
    explicit SearchHistory(const AppContext& context, QObject* parent = nullptr);

    // The recent searches, newest first; changed() follows every change.
    const QStringList& entries() const { return m_entries; }
    void setEntries(const QStringList& history);
    // A finished search: its trimmed text goes first, unless it is shorter
    // than two characters; stored when the list changed. A text typed on from
    // (or back to) the one recorded a moment before takes its place, or
    // removes it when it is too short itself, so that a word typed or deleted
    // a letter at a time leaves one entry, or none, not one per letter.
    void recordIfNeeded(const QString& text);
    void persist();
    // User-defaults key of the running edition, and the list stored under it.
    static const std::string& key();
    static QStringList load(const Defaults& defaults);

    // The common terms live in the settings record, which announces them.
    void addCommonSearchTerm(const QString& term);
    void removeCommonSearchTerm(const std::set<int>& offsets);

signals:
    void changed();

private:
    const AppContext& m_context;
    QStringList m_entries;
    // The entry the last recording added, and when: a later text of the same
    // typing replaces it while it is still the newest entry.
    QString m_lastRecorded;
    std::optional<Clock::TimePoint> m_lastRecordedAt;
};

} // namespace pallix
