#pragma once
// SettingsOperations: the stored settings as the settings window shows them,
// the operations that change one setting each, and the two that edit the
// recent searches in place. Every setting change writes the record back first
// (store, persist, republish through the context) and only then applies its
// effect to the running application (autostart entry, tray icon, hot key,
// keep-warm activity, rescan or re-search); an effect that fails never rolls
// the stored value back. The effects that belong to other features come in as
// callbacks the model fills. The settings window and the search window call
// it. GUI thread only.

#include <cstdint>
#include <functional>
#include <optional>

#include <QObject>
#include <QString>
#include <QStringList>

#include "Core/Config/AppSettings.h"
#include "Core/HotKey/HotKey.h"

namespace pallix {

class AppContext;
class LaunchAgentManager;

class SettingsOperations : public QObject {
    Q_OBJECT

public:
    // What a changed setting does to the other features. Each is called on
    // the GUI thread after the record is stored; all must be set.
    struct Effects {
        std::function<void()> applyKeepWarmRule;      // hold or release the keep-warm activity
        std::function<void()> searchAgain;            // an immediate search of the current text
        // The shown list was cut at the old limit: it may no longer stand in
        // for the answer of a longer text.
        std::function<void()> forgetShownListIsComplete;
        std::function<void()> rebuildIndex;           // walk the local roots again
        std::function<void()> startImageTagging;
        std::function<void()> clearImageResults;
        std::function<void()> clearLocalResults;
        // Empties the shared-drive results and forgets the query they answered.
        std::function<void()> clearServerResults;
        std::function<void()> startServerFullScanIfNeeded;
        // The recent searches, and their replacement, which is also persisted.
        std::function<QStringList()> searchHistory;
        std::function<void(const QStringList&)> replaceSearchHistory;
    };

    SettingsOperations(const AppContext& context, const LaunchAgentManager& launchAgent, Effects effects,
                       QObject* parent = nullptr);

    // The stored record; settingsChanged() follows every change of it.
    const AppSettings& settings() const;

    // The launch-at-login autostart entry is written or removed; a failure
    // goes to the status line.
    void updateLaunchAtLogin(bool enabled);
    // Shows or hides the tray icon.
    void updateShowMenuBarIcon(bool visible);
    // Registers the hot key in place of the previous one; none leaves none.
    void updateGlobalHotKey(const std::optional<GlobalHotKey>& hotKey);
    // Read when file-system events arrive; nothing else to do now.
    void updateKeepIndexerInBackground(bool enabled);
    // Holds or releases the keep-warm activity.
    void updateKeepAppWarmInBackground(bool enabled);
    // Sets the matching status text and searches again; no rescan.
    void updateExcludeSystemJunkFromIndex(bool enabled);
    // Stores the limit clamped to the allowed range and searches again.
    void updateSearchLimit(std::int64_t limit);
    // Rescans the local roots, which now include or leave out removable volumes.
    void updateAutoIndexExternalVolumes(bool enabled);
    // On starts tagging the images; off empties the image section. Searches nothing.
    void updateEnableImageFuzzySearch(bool enabled);
    // Which side a search covers. A side turned off loses its results at once;
    // the shared drives turned on get their first scan when one is due.
    void applySearchScopeChanges(bool local, bool server);
    // One side's checkbox: turning a side off turns the other on, so at least
    // one side is always searched; turning a side on leaves the other alone.
    void applyLocalSearchScope(bool on);
    void applyServerSearchScope(bool on);

    // Removes the first recent search equal to `text` (canonically equivalent)
    // and persists the list; nothing when there is none.
    void removeSearchHistoryEntry(const QString& text);
    // Empties the recent searches and persists the empty list.
    void clearSearchHistory();

    // Shows the tray icon and registers the hot key as the record says, at start-up.
    void applyMenuBarAndHotKey();
    // Whether the welcome sheet has been closed once (in the user defaults,
    // outside the record).
    bool welcomeSheetDismissed() const;
    void markWelcomeSheetDismissed();

signals:
    // The stored record changed, here or elsewhere.
    void settingsChanged();

private:
    const AppContext& m_context;
    const LaunchAgentManager& m_launchAgent;
    Effects m_effects;
};

} // namespace pallix
