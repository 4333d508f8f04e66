#pragma once
// File names as the index keeps them. A Linux name is any bytes but "/" and
// NUL; the index, the search and the window work on UTF-8 text. The stored
// form of a path is its bytes where they are UTF-8, and every other byte as
// one code point of a private range (U+10FE80 to U+10FEFF, the byte's value
// above U+10FE00), so the text is valid and the bytes come back exactly. A
// name that really holds a code point of that range has its bytes kept the
// same way, so no two byte strings share one stored form. A stored path goes
// through toFileSystem() wherever it is handed to the system, and through
// displayForm() wherever it is shown. Pure functions; any thread.

#include <string>
#include <string_view>

namespace pallix::filenames {

// The code point that stands for a byte (0x80 to 0xFF) the name holds outside UTF-8.
inline constexpr char32_t kEscapeBase = 0x10FE00;
inline constexpr char32_t kFirstEscape = kEscapeBase + 0x80;
inline constexpr char32_t kLastEscape = kEscapeBase + 0xFF;

inline bool isEscape(char32_t c) { return c >= kFirstEscape && c <= kLastEscape; }

// The stored form of a name or path as the system gives it; the same string
// for UTF-8 without a code point of the range.
std::string fromFileSystem(std::string_view bytes);

// False when fromFileSystem() would change the bytes.
bool isStoredAsIs(std::string_view bytes);

// The bytes the system knows the stored path by.
std::string toFileSystem(std::string_view stored);

// True when the stored path stands for bytes that are not its own UTF-8.
bool hasEscapes(std::string_view stored);

// What the user reads: every escaped byte as U+FFFD.
std::string displayForm(std::string_view stored);

} // namespace pallix::filenames
