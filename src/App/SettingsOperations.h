#pragma once
// SettingsOperations: the operations that change one setting each, and the
// two that edit the recent searches in place. Every setting change writes the
// record back first (store, persist, republish through the model) and only
// then applies its effect to the running application (autostart entry, tray
// icon, hot key, keep-warm activity, rescan or re-search); an effect that fails
// never rolls the stored value back. The model owns one; the settings window
// and the search window call it. GUI thread only.

#include <functional>
#include <optional>

#include <QString>

#include "Core/Config/AppSettings.h"
#include "Core/HotKey/HotKey.h"

namespace pallix {

class AppModel;

class SettingsOperations {
public:
    explicit SettingsOperations(AppModel& model);

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

    // Removes the first recent search equal to `text` (canonically equivalent)
    // and persists the list; nothing when there is none.
    void removeSearchHistoryEntry(const QString& text);
    // Empties the recent searches and persists the empty list.
    void clearSearchHistory();

private:
    // Copy the store's record, change it, store, persist, republish.
    void writeBack(const std::function<void(AppSettings&)>& change);

    AppModel& m_model;
};

} // namespace pallix
