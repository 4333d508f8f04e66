#pragma once
// What the edition decides beyond AppEditionInfo: the per-edition user-defaults
// keys, the legacy keys they are migrated from, and the shared-drive features.
// Pure functions, callable from any thread.

#include <string>
#include <string_view>

#include "Core/Models/AppEdition.h"

namespace pallix {

// Names of the per-edition user-defaults keys; the full key is the edition
// prefix, ".", and the name.
namespace DefaultsName {
inline constexpr std::string_view Settings = "settings";
inline constexpr std::string_view LastIndexedCount = "lastIndexedCount";
inline constexpr std::string_view LastIndexedRoots = "lastIndexedRoots";
inline constexpr std::string_view SearchHistory = "searchHistory";
inline constexpr std::string_view WelcomeSheetDismissed = "welcomeSheetDismissed";
inline constexpr std::string_view ServerIndexAutoConfiguredOnce = "serverIndexAutoConfiguredOnce";
inline constexpr std::string_view ServerIndexRunStartedAt = "serverIndexRunStartedAt";
inline constexpr std::string_view ServerIndexRunCompletedAt = "serverIndexRunCompletedAt";
inline constexpr std::string_view ServerLastIncrementalScanAt = "serverLastIncrementalScanAt";
inline constexpr std::string_view DidMigrateLegacyPallixDatabases = "didMigrateLegacyPallixDatabases";
// Set with every persist of the settings: the stored search limit is the
// user's own and needs no migration of the old default.
inline constexpr std::string_view SearchLimitStoredAsChosen = "searchLimitStoredAsChosen";
} // namespace DefaultsName

// "PallixMardell.settings" / "PallixQel.settings".
std::string editionDefaultsKey(AppEdition edition, std::string_view name);
// The same for the running application's edition.
std::string editionDefaultsKey(std::string_view name);
// "Orvandel." + name: the keys of older versions, the same in both editions; only read.
std::string legacyDefaultsKey(std::string_view name);

// Only the default edition has shared drives (their index, roots, scope and image tags).
inline bool hasSharedDriveFeatures(AppEdition edition) { return edition == AppEdition::Mardell; }

} // namespace pallix
