#pragma once
// SearchBudgets: how much one search may cost on each of its roads, and when
// the user counts as typing. The local typing road's budgets are the
// engine's (TypingBudget); the shared-drive stage caps its typing answer
// alike. Pure; any thread.

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <optional>

#include <QtGlobal>

#include "App/Async/TypingPause.h"
#include "Core/IndexDB/TypingRoad.h"

namespace pallix::searchbudgets {

// "The user is typing": less than this since the last keystroke.
inline constexpr std::chrono::milliseconds kTypingThreshold = kTypingPauseThreshold;
inline constexpr double kTypingThresholdSeconds = std::chrono::duration<double>(kTypingThreshold).count();
// Pauses after the last keystroke before a new list starts a thumbnail
// session, and before folders are reordered by what they hold.
inline constexpr double kPreviewSessionPauseSeconds = 0.42;
inline constexpr double kFolderOrderingPauseSeconds = 0.28;
inline constexpr int kPreviewSessionMinIntervalMs = 420;
// Items of a list that make its signature.
inline constexpr std::size_t kSignatureItems = 180;
// A search reads at most this many characters of the text (UTF-16 units):
// a pasted page would otherwise cost every name a pass over all of it.
inline constexpr qsizetype kMaxSearchTextLength = 2000;
// The shown list is filtered in memory up to this size.
inline constexpr qsizetype kMaxNarrowedInMemory = 900;

// The image-content section.
inline constexpr int kImageFirstPassLimit = 180;
inline int imageSecondPassLimit(int limit) { return std::clamp(2 * limit, 1200, 1500); }
inline int imageFollowUpLimit(int limit) { return std::clamp(limit, 320, 800); }

// The shared-drive stage: the in-memory narrowing, the store or file answer
// (capped like the local typing answer while the user types) and the typing
// prefix answer read from the file.
inline int serverNarrowingLimit(int limit) { return std::min(limit, 4000); }
inline int serverLimit(int limit, bool typing)
{
    return typing ? TypingBudget::typing(limit).limit : std::min(limit, 4000);
}
inline int serverPrefixLimit(int limit) { return std::min(limit, 900); }

} // namespace pallix::searchbudgets
