#pragma once
// ItemFacts: what a search can tell about one item from a few bits, worked out
// once when a source that keeps its items (the store's cache) takes one in:
// the kind and category flags the filters read, the junk and developer-tool
// rules, the characters of the normalised name, and whether the name is plain
// enough for the engine's byte-level matchers. FolderForms: the forms of one
// folder's path that every item in it shares.
//
// The engine only ever uses these to turn down a candidate that the full
// tests would turn down as well; the full tests still decide every other one.
// Pure functions; any thread.

#include <cstdint>
#include <string>
#include <string_view>

#include "Core/Models/IndexedItem.h"

namespace pallix {

struct ItemFacts {
    static constexpr std::uint32_t kNoFolder = 0xFFFFFFFFu;

    enum Bit : std::uint32_t {
        Folder = 1u << 0,
        Junk = 1u << 1,             // IndexedItem::shouldExcludeAsSystemOrJunk
        ToolingArtifact = 1u << 2,  // IndexedItem::isLowPriorityToolingArtifact
        // The name is valid UTF-8 and holds no line terminator, and none of its
        // non-ASCII characters has a case folding that holds an ASCII character:
        // a case-insensitive expression can then only match its ASCII letters
        // with ASCII letters.
        PlainName = 1u << 3,
        AsciiName = 1u << 4,  // every byte of the name is ASCII
        Image = 1u << 5,
        DocumentLike = 1u << 6,
        Video = 1u << 7,
        NormalFile = 1u << 8,
        Archive = 1u << 9,
        Executable = 1u << 10,
        // normalizedSearchNameWithoutExtension is a head of normalizedSearchName.
        StemIsHead = 1u << 11,
        // Every character of the name is ASCII or one without case that no
        // composition touches (see lowersAsStored()).
        LowersAsStored = 1u << 15,
    };
    static constexpr unsigned kKindShift = 12;  // three bits: IndexedItem::displayKindOrder
    // Seven bits each: the last and the second-to-last byte of the name,
    // lower-cased, when they are ASCII; 0 otherwise (or when there is none).
    static constexpr unsigned kLastByteShift = 16;
    static constexpr unsigned kSecondLastByteShift = 23;

    // characterMask() of the normalised name and of its stem, joined.
    std::uint64_t nameCharacters = 0;
    // The source's folder number of the item's parent, or kNoFolder when the
    // path is not that folder's path and the name (the engine then assumes
    // nothing about the item's path).
    std::uint32_t folder = kNoFolder;
    std::uint32_t bits = 0;
    // Bytes of the name, of normalizedSearchName and of its stem
    // (normalizedSearchNameWithoutExtension); kLongText for longer ones.
    static constexpr std::uint8_t kLongText = 0xFF;
    std::uint8_t nameBytes = 0;
    std::uint8_t normalizedBytes = 0;
    std::uint8_t normalizedStemBytes = 0;
    // The first byte of normalizedSearchName when it is ASCII, else 0.
    char firstNormalized = 0;
    // pairMask() of the normalised name and of its stem, joined; for an ASCII
    // name also the wordStartBit() of its first byte and of the first letter
    // or digit of each of its words.
    std::uint32_t namePairs = 0;

    bool has(Bit b) const { return (bits & b) != 0; }
    int kindOrder() const { return static_cast<int>((bits >> kKindShift) & 7u); }
    char lastByte() const { return static_cast<char>((bits >> kLastByteShift) & 0x7Fu); }
    char secondLastByte() const { return static_cast<char>((bits >> kSecondLastByteShift) & 0x7Fu); }

    // The facts of `item`; `folder` is left for the source to set. When the
    // caller knows that the item's path is its parent folder joined with its
    // name, the folder's part of the junk and developer-tool rules is
    // remembered for the next items of the same folder.
    static ItemFacts of(const ItemRef& item, bool pathJoinsParentAndName = false);

    // One bit per character class of `text`: a to z and 0 to 9 have a bit each,
    // every other character shares one of 28 bits by its code point. A text
    // holding all characters of another holds all its bits.
    static std::uint64_t characterMask(std::string_view text);
    // One of 32 bits for each pair of adjacent characters of `text`: a text
    // holding another one whole holds all its bits.
    static std::uint32_t pairMask(std::string_view text);
    // The bit of an ASCII character, either case, at the start of a name or
    // of a word in it (a run of letters and digits); a bit pairMask() shares.
    static std::uint32_t wordStartBit(char c);
    // True when `text` holds only ASCII and characters without case that
    // composition leaves alone (kana, CJK ideographs, lower-case Cyrillic):
    // lower-casing it, composed first or not, changes only its ASCII letters.
    static bool lowersAsStored(std::string_view text);
};

// The shared head of the paths of one folder's items, in the forms ranking
// composes item paths from (see PathForms).
struct FolderForms {
    std::string_view path;        // the folder path as stored
    std::string_view comparable;  // lower-cased NFC: the head of a case-insensitive comparable path
    std::string_view normalized;  // SearchEngine::normalized(comparable)
    std::uint32_t comparableCount = 0;  // grapheme clusters of comparable
    std::uint32_t normalizedCount = 0;  // grapheme clusters of normalized
    bool asciiPath = false;             // the path is ASCII
    // text::lower(path) is `comparable` (see pathLowersToComparable()): a path
    // lower-cased as a whole can be searched in `comparable` instead.
    bool lowersToComparable = false;
    // The source's number of the folder this one is in, or ItemFacts::kNoFolder
    // when the source holds no such folder.
    std::uint32_t parent = ItemFacts::kNoFolder;

    // The comparable and normalised forms of a folder path, in that order.
    static std::pair<std::string, std::string> formsOf(std::string_view path);
    // True when lower-casing `path` as it is (not composed first) gives
    // `comparable`, its comparable form: the usual case, so the full
    // lower-casing runs only for the few paths the cheap tests leave.
    static bool pathLowersToComparable(std::string_view path, std::string_view comparable);
};

} // namespace pallix
