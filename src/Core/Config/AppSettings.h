#pragma once
// AppSettings: every user setting in one value record, stored as one JSON
// document. Decoding is type-strict (a Bool is only true or false, an integer
// only an integral number) and follows a per-key rule: a bad required key
// rejects the whole document, a bad optional key costs only its own field.
// Encoding writes the seventeen current keys in declaration order and never
// the legacy keys that decoding still reads. A plain value; no shared state.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Core/HotKey/HotKey.h"

namespace pallix {

struct AppSettings {
    static constexpr std::int64_t kMinSearchLimit = 200;
    static constexpr std::int64_t kMaxSearchLimit = 10000;
    // Common search terms kept after an addition; a stored list longer than
    // this (edited by hand, or written by something else) is cut on load.
    static constexpr std::size_t kMaxCommonSearchTerms = 12;

    // Configured local roots, standardized absolute paths in the order added. Required.
    std::vector<std::string> indexedRoots;
    // Paths the scanner skips. Required.
    std::vector<std::string> excludedPaths;
    bool launchAtLogin = false;                 // required
    bool keepIndexerInBackground = true;        // required
    bool keepAppWarmInBackground = false;       // missing or mistyped: false
    // Result limit, kMinSearchLimit to kMaxSearchLimit once loaded. Required.
    std::int64_t searchLimit = kMaxSearchLimit;
    bool autoIndexExternalVolumes = true;       // missing or mistyped: true
    // Missing: the legacy "indexOnlyEssentialFileTypes", else true; mistyped rejects.
    bool excludeSystemJunkFromIndex = true;
    // A fresh record has it on; an older document without the key loads it off.
    bool enableImageFuzzySearch = true;
    std::vector<std::string> serverIndexedRoots;  // shared-drive roots; missing or mistyped: empty
    bool enableServerIndexing = false;            // missing or mistyped: false
    // Search scope; missing: the legacy scope keys decide; mistyped rejects.
    bool includeLocalInSearch = true;
    bool includeServerInSearch = true;
    bool autoResumeServerIndexingOnLaunch = false;  // missing or mistyped: false
    bool showMenuBarIcon = true;                    // missing or mistyped: true
    // Absent only after the user cleared it; stored as JSON null and loaded as
    // absent again. A missing or unreadable member means the default, Ctrl+Alt+Space.
    std::optional<GlobalHotKey> globalHotKey = GlobalHotKey::standard();
    std::vector<std::string> commonSearchTerms;     // missing or mistyped: empty

    // nullopt when the document is rejected (not JSON, not an object, a required
    // key missing, null or mistyped, an unknown legacy scope mode).
    // `cut` (may be null) is set when a list was longer than its limit.
    static std::optional<AppSettings> decode(std::string_view json, bool* cut = nullptr);
    // The compact JSON document; nullopt when a string cannot be encoded (not UTF-8).
    std::optional<std::string> encode() const;

    // The limit as loaded from a stored document: 1200 (an old default) becomes
    // the maximum, then the value is clamped to the allowed range. Only for
    // documents written before the limit was kept as the user chose it.
    static std::int64_t normalizedStoredSearchLimit(std::int64_t limit);
    static std::int64_t clampedSearchLimit(std::int64_t limit);

    friend bool operator==(const AppSettings&, const AppSettings&) = default;
};

} // namespace pallix
