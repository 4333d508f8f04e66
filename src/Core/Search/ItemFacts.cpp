#include "Core/Search/ItemFacts.h"

#include <algorithm>
#include <optional>
#include <unordered_map>
#include <vector>

#include <unicode/uchar.h>
#include <unicode/ustring.h>
#include <unicode/utf16.h>

#include "Platform/Text.h"

namespace pallix {

namespace {

constexpr unsigned kDigitBase = 26;
constexpr unsigned kSharedBase = 36;
constexpr unsigned kSharedBits = 28;

bool isLineTerminator(char32_t c)
{
    return (c >= 0x0A && c <= 0x0D) || c == 0x85 || c == 0x2028 || c == 0x2029;
}

// True when the case folding of `c` holds an ASCII character (the Kelvin sign
// folds to k, the long s to s, the ligature ff to "ff").
bool caseFoldsIntoAscii(char32_t c)
{
    UChar source[2];
    int32_t length = 0;
    UBool error = false;
    U16_APPEND(source, length, 2, static_cast<UChar32>(c), error);
    if (error)
        return true;
    UChar folded[8];
    UErrorCode status = U_ZERO_ERROR;
    const int32_t n = u_strFoldCase(folded, 8, source, length, U_FOLD_CASE_DEFAULT, &status);
    if (U_FAILURE(status))
        return true;
    for (int32_t i = 0; i < n; ++i)
        if (folded[i] < 0x80)
            return true;
    return u_foldCase(static_cast<UChar32>(c), U_FOLD_CASE_DEFAULT) < 0x80;
}

std::uint32_t nameBits(std::string_view name)
{
    if (text::isAscii(name)) {
        for (char c : name)
            if (isLineTerminator(static_cast<unsigned char>(c)))
                return ItemFacts::AsciiName;
        return ItemFacts::AsciiName | ItemFacts::PlainName;
    }
    if (!text::isValidUtf8(name))
        return 0;
    for (std::size_t i = 0; i < name.size();) {
        const char32_t c = text::nextCodePoint(name, i);
        if (isLineTerminator(c) || (c >= 0x80 && caseFoldsIntoAscii(c)))
            return 0;
    }
    return ItemFacts::PlainName;
}

// The category bits and the kind order follow from the type and the
// extension alone (a folder named x.png counts as an image to the content
// filter), and a few hundred extensions cover nearly every item: remembered
// per thread rather than looked up in a dozen sets per item.
std::uint32_t categoryAndKindBits(const ItemRef& item)
{
    thread_local std::unordered_map<std::string, std::uint32_t> known[2];
    thread_local std::string key;
    key.assign(item.fileExtension);
    auto& byExtension = known[item.isFolder ? 1 : 0];
    if (const auto found = byExtension.find(key); found != byExtension.end())
        return found->second;
    const std::string_view ext = item.fileExtension;
    std::uint32_t bits = 0;
    if (item.isFolder)
        bits |= ItemFacts::Folder;
    if (kinds::isImageExtension(ext))
        bits |= ItemFacts::Image;
    if (kinds::isDocumentLike(item))
        bits |= ItemFacts::DocumentLike;
    if (kinds::isVideoExtension(ext))
        bits |= ItemFacts::Video;
    if (kinds::isNormalFile(item))
        bits |= ItemFacts::NormalFile;
    if (kinds::isArchiveExtension(ext))
        bits |= ItemFacts::Archive;
    if (kinds::isExecutableExtension(ext))
        bits |= ItemFacts::Executable;
    bits |= static_cast<std::uint32_t>(IndexedItem::displayKindOrder(item)) << ItemFacts::kKindShift;
    if (byExtension.size() < 4096)
        byExtension.emplace(key, bits);
    return bits;
}

// The junk and developer-tool rules read the path only through fragments and
// prefixes that end with "/", so for a path made of a folder and a name they
// look at the lower-cased folder (and the "/" after it) alone. A rule then
// splits into a part on the name, the extension and the type, tried on the
// name in a neutral folder ("/home/" sets off none of them), and a part on the
// folder and the extension, tried with a neutral name ("x"); an item matches
// the rule when either part does. The folder's part is remembered while items
// of the same folder come in a row.
class FolderRuleCache {
public:
    bool isJunk(const ItemRef& item)
    {
        enter(item.parentPath);
        m_scratch.assign("/home/").append(item.name);
        if (IndexedItem::shouldExcludeAsSystemOrJunk(m_scratch, item.name, item.fileExtension, item.isFolder))
            return true;
        for (const auto& [ext, junk] : m_junkByExtension)
            if (ext == item.fileExtension)
                return junk;
        const bool junk = IndexedItem::shouldExcludeAsSystemOrJunk(m_neutralPath, "x", item.fileExtension, false);
        m_junkByExtension.emplace_back(std::string(item.fileExtension), junk);
        return junk;
    }

    bool isToolingArtifact(const ItemRef& item)
    {
        if (item.isFolder)
            return false;
        enter(item.parentPath);
        // Only the extension "vim" changes what the rule reads of the path.
        std::optional<bool>& known = item.fileExtension == "vim" ? m_vimArtifact : m_otherArtifact;
        if (!known) {
            ItemRef neutral;
            neutral.path = m_neutralPath;
            neutral.name = "x";
            neutral.fileExtension = item.fileExtension == "vim" ? "vim" : "";
            known = IndexedItem::isLowPriorityToolingArtifact(neutral);
        }
        return *known;
    }

private:
    void enter(std::string_view folder)
    {
        if (m_valid && folder == m_folder)
            return;
        m_folder.assign(folder);
        m_neutralPath.assign(folder).append(folder == "/" ? "" : "/").append("x");
        m_junkByExtension.clear();
        m_vimArtifact.reset();
        m_otherArtifact.reset();
        m_valid = true;
    }

    bool m_valid = false;
    std::string m_folder, m_neutralPath, m_scratch;
    std::vector<std::pair<std::string, bool>> m_junkByExtension;
    std::optional<bool> m_vimArtifact, m_otherArtifact;
};

std::uint32_t tailBits(std::string_view name)
{
    const auto lowered = [](std::string_view s, std::size_t fromEnd) -> std::uint32_t {
        if (s.size() < fromEnd)
            return 0;
        const auto b = static_cast<unsigned char>(s[s.size() - fromEnd]);
        if (b >= 0x80)
            return 0;
        return (b >= 'A' && b <= 'Z') ? b + ('a' - 'A') : b;
    };
    // A byte past a non-ASCII last one would be part of that character.
    const std::uint32_t last = lowered(name, 1);
    const std::uint32_t second = last == 0 ? 0 : lowered(name, 2);
    return last << ItemFacts::kLastByteShift | second << ItemFacts::kSecondLastByteShift;
}

} // namespace

std::uint64_t ItemFacts::characterMask(std::string_view text)
{
    std::uint64_t mask = 0;
    for (std::size_t i = 0; i < text.size();) {
        const auto b = static_cast<unsigned char>(text[i]);
        unsigned bit;
        if (b < 0x80) {
            ++i;
            if (b >= 'a' && b <= 'z')
                bit = b - 'a';
            else if (b >= 'A' && b <= 'Z')
                bit = b - 'A';
            else if (b >= '0' && b <= '9')
                bit = kDigitBase + (b - '0');
            else
                bit = kSharedBase + b % kSharedBits;
        } else {
            const char32_t c = text::nextCodePoint(text, i);
            bit = kSharedBase + static_cast<unsigned>((c * 2654435761u) >> 7) % kSharedBits;
        }
        mask |= std::uint64_t(1) << bit;
    }
    return mask;
}

namespace {

std::uint32_t pairBit(char32_t previous, char32_t c)
{
    return std::uint32_t(1) << ((previous * 0x9E3779B1u ^ c * 0x85EBCA77u) >> 27);
}

// The word starts of an ASCII name: its first byte, and each letter or digit
// that follows something else.
std::uint32_t wordStartMask(std::string_view name)
{
    std::uint32_t mask = 0;
    for (std::size_t i = 0; i < name.size(); ++i)
        if (i == 0 || (text::isAsciiAlnum(name[i]) && !text::isAsciiAlnum(name[i - 1])))
            mask |= ItemFacts::wordStartBit(name[i]);
    return mask;
}

} // namespace

// A pair never holds character 0, which names cannot hold: the word starts
// take the pairs of 0 and their character.
std::uint32_t ItemFacts::wordStartBit(char c) { return pairBit(0, static_cast<unsigned char>(text::asciiLower(c))); }

std::uint32_t ItemFacts::pairMask(std::string_view text)
{
    std::uint32_t mask = 0;
    char32_t previous = 0;
    bool first = true;
    for (std::size_t i = 0; i < text.size();) {
        const auto b = static_cast<unsigned char>(text[i]);
        char32_t c = b;
        if (b < 0x80)
            ++i;
        else
            c = text::nextCodePoint(text, i);
        if (!first)
            mask |= pairBit(previous, c);
        previous = c;
        first = false;
    }
    return mask;
}

bool ItemFacts::lowersAsStored(std::string_view text)
{
    const auto caselessAndComposed = [](char32_t c) {
        return (c >= 0x3041 && c <= 0x3096) || (c >= 0x30A1 && c <= 0x30FA) || (c >= 0x3400 && c <= 0x4DBF) ||
               (c >= 0x4E00 && c <= 0x9FFF) || (c >= 0x0430 && c <= 0x045F);
    };
    return text::everyNonAscii(text, caselessAndComposed);
}

ItemFacts ItemFacts::of(const ItemRef& item, bool pathJoinsParentAndName)
{
    ItemFacts facts;
    facts.nameCharacters =
        characterMask(item.normalizedSearchName) | characterMask(item.normalizedSearchNameWithoutExtension);
    facts.namePairs = pairMask(item.normalizedSearchName) | pairMask(item.normalizedSearchNameWithoutExtension);
    facts.bits = categoryAndKindBits(item) | nameBits(item.name) | tailBits(item.name);
    if (facts.has(AsciiName))
        facts.namePairs |= wordStartMask(item.name);
    if (item.normalizedSearchName.starts_with(item.normalizedSearchNameWithoutExtension))
        facts.bits |= StemIsHead;
    if (facts.has(AsciiName) || lowersAsStored(item.name))
        facts.bits |= LowersAsStored;
    const auto bytes = [](std::string_view s) {
        return static_cast<std::uint8_t>(std::min<std::size_t>(s.size(), kLongText));
    };
    facts.nameBytes = bytes(item.name);
    facts.normalizedBytes = bytes(item.normalizedSearchName);
    facts.normalizedStemBytes = bytes(item.normalizedSearchNameWithoutExtension);
    if (!item.normalizedSearchName.empty() && static_cast<unsigned char>(item.normalizedSearchName[0]) < 0x80)
        facts.firstNormalized = item.normalizedSearchName[0];
    bool junk, artifact;
    if (pathJoinsParentAndName) {
        thread_local FolderRuleCache rules;
        junk = rules.isJunk(item);
        artifact = rules.isToolingArtifact(item);
    } else {
        junk = IndexedItem::shouldExcludeAsSystemOrJunk(item.path, item.name, item.fileExtension, item.isFolder);
        artifact = IndexedItem::isLowPriorityToolingArtifact(item);
    }
    if (junk)
        facts.bits |= Junk;
    if (artifact)
        facts.bits |= ToolingArtifact;
    return facts;
}

std::pair<std::string, std::string> FolderForms::formsOf(std::string_view path)
{
    // The same forms PathForms makes of a parent folder in a case-insensitive search.
    std::string comparable;
    if (text::isAscii(path)) {
        comparable.assign(path);
        for (char& c : comparable)
            if (c >= 'A' && c <= 'Z')
                c = static_cast<char>(c + ('a' - 'A'));
    } else {
        comparable = text::lower(text::toNFC(path));
    }
    std::string normalized = text::foldLettersMarksNumbers(comparable);
    return {std::move(comparable), std::move(normalized)};
}

bool FolderForms::pathLowersToComparable(std::string_view path, std::string_view comparable)
{
    if (text::isAscii(path) || ItemFacts::lowersAsStored(path))
        return true;
    return text::lower(path) == comparable;
}

} // namespace pallix
