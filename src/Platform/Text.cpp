#include "Platform/Text.h"

#include <algorithm>
#include <mutex>

#include <unicode/brkiter.h>
#include <unicode/coll.h>
#include <unicode/locid.h>
#include <unicode/normalizer2.h>
#include <unicode/regex.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/ustring.h>
#include <unicode/utext.h>
#include <unicode/utf8.h>

#include "Platform/Clock.h"

namespace pallix::text {

namespace {

bool isAsciiByte(unsigned char c) { return c < 0x80; }

char asciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - ('a' - 'A')) : c; }
bool asciiAlnum(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

icu::UnicodeString fromUtf8(std::string_view s)
{
    return icu::UnicodeString::fromUTF8(icu::StringPiece(s.data(), static_cast<int32_t>(s.size())));
}

void appendUnicodeString(const icu::UnicodeString& u, std::string& out)
{
    icu::StringByteSink<std::string> sink(&out, u.length());
    u.toUTF8(sink);
}

const icu::Normalizer2& nfc()
{
    static const icu::Normalizer2* n = [] {
        UErrorCode status = U_ZERO_ERROR;
        return icu::Normalizer2::getNFCInstance(status);
    }();
    return *n;
}

const icu::Normalizer2& nfd()
{
    static const icu::Normalizer2* n = [] {
        UErrorCode status = U_ZERO_ERROR;
        return icu::Normalizer2::getNFDInstance(status);
    }();
    return *n;
}

const icu::Normalizer2& nfkd()
{
    static const icu::Normalizer2* n = [] {
        UErrorCode status = U_ZERO_ERROR;
        return icu::Normalizer2::getNFKDInstance(status);
    }();
    return *n;
}

// Code points that every folding step leaves alone or maps trivially, so that
// the common names (ASCII, CJK ideographs, full-width ASCII, CJK punctuation)
// never reach ICU. A combining mark is never simple, so a simple character is
// never part of a composition. Without `width`, only what keeps its width.
bool foldSimple(char32_t c, char32_t& mapped, bool width = true)
{
    if (c < 0x80) {
        mapped = static_cast<char32_t>(asciiLower(static_cast<char>(c)));
        return true;
    }
    if ((c >= 0x4E00 && c <= 0x9FFF) || (c >= 0x3400 && c <= 0x4DBF) || (c >= 0x3001 && c <= 0x3029)) {
        mapped = c;
        return true;
    }
    if (!width)
        return false;
    if (c >= 0xFF01 && c <= 0xFF5E) {  // full-width ASCII
        mapped = static_cast<char32_t>(asciiLower(static_cast<char>(c - 0xFEE0)));
        return true;
    }
    if (c == 0x3000) {  // ideographic space
        mapped = U' ';
        return true;
    }
    return false;
}

// Width (unless `width` is false), case and diacritic folding through ICU, for
// text the fast path cannot take. Returns a per-thread buffer, valid until the
// next call on this thread.
const icu::UnicodeString& foldSlow(std::string_view s, bool width = true)
{
    thread_local icu::UnicodeString a, b;
    UErrorCode status = U_ZERO_ERROR;
    a.remove();
    b.remove();

    // Width: only the <wide> and <narrow> compatibility mappings, not every NFKD one
    // (ligatures and superscripts keep their form).
    icu::UnicodeString decomposition;
    for (std::size_t i = 0; i < s.size();) {
        auto c = static_cast<UChar32>(nextCodePoint(s, i));
        int32_t dt = c < 0x80 || !width ? U_DT_NONE : u_getIntPropertyValue(c, UCHAR_DECOMPOSITION_TYPE);
        if ((dt == U_DT_WIDE || dt == U_DT_NARROW) && nfkd().getDecomposition(c, decomposition))
            a.append(decomposition);
        else
            a.append(c);
    }

    // Case before diacritics: İ folds to i + U+0307, whose dot then goes.
    a.foldCase(U_FOLD_CASE_DEFAULT);
    nfd().normalize(a, b, status);
    if (U_FAILURE(status))
        return a;

    a.remove();
    for (int32_t i = 0; i < b.length();) {
        UChar32 c = b.char32At(i);
        i += U16_LENGTH(c);
        if (u_charType(c) != U_NON_SPACING_MARK)
            a.append(c);
    }
    nfc().normalize(a, b, status);
    if (U_FAILURE(status))
        return a;
    // Case folding leaves a few letters upper case (Cherokee); the result is lower case.
    b.toLower(icu::Locale::getRoot());
    return b;
}

bool isLMN(UChar32 c)
{
    return (U_GET_GC_MASK(c) & (U_GC_L_MASK | U_GC_M_MASK | U_GC_N_MASK)) != 0;
}

icu::BreakIterator* graphemeIterator()
{
    thread_local std::unique_ptr<icu::BreakIterator> it = [] {
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::BreakIterator> bi(icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
        if (U_FAILURE(status))
            bi.reset();
        return bi;
    }();
    return it.get();
}

// Runs `fn` with the grapheme iterator set on s; the UText only lives for the call.
template <typename Fn>
auto withGraphemes(std::string_view s, Fn&& fn)
{
    icu::BreakIterator* bi = graphemeIterator();
    UErrorCode status = U_ZERO_ERROR;
    UText ut = UTEXT_INITIALIZER;
    utext_openUTF8(&ut, s.data(), static_cast<int64_t>(s.size()), &status);
    bi->setText(&ut, status);
    auto result = fn(bi);
    // The iterator keeps its own shallow clone; it is re-pointed before every use.
    utext_close(&ut);
    return result;
}

// In ASCII only CR LF joins two characters into one grapheme.
std::size_t asciiGraphemeOffset(std::string_view s, std::size_t n)
{
    std::size_t i = 0;
    for (std::size_t k = 0; k < n && i < s.size(); ++k)
        i += (s[i] == '\r' && i + 1 < s.size() && s[i + 1] == '\n') ? 2 : 1;
    return i;
}

std::size_t asciiGraphemeCount(std::string_view s)
{
    std::size_t count = s.size();
    for (std::size_t i = 0; i + 1 < s.size(); ++i)
        if (s[i] == '\r' && s[i + 1] == '\n')
            --count;
    return count;
}

} // namespace

void appendUtf8(char32_t c, std::string& out)
{
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
        return;
    }
    char buf[U8_MAX_LENGTH];
    int32_t len = 0;
    UBool error = false;
    U8_APPEND(buf, len, U8_MAX_LENGTH, static_cast<UChar32>(c), error);
    if (!error)
        out.append(buf, static_cast<std::size_t>(len));
}

char32_t simpleLower(char32_t c)
{
    if (c < 0x80)
        return static_cast<char32_t>(asciiLower(static_cast<char>(c)));
    return static_cast<char32_t>(u_tolower(static_cast<UChar32>(c)));
}

bool isAscii(std::string_view s)
{
    for (char c : s)
        if (!isAsciiByte(static_cast<unsigned char>(c)))
            return false;
    return true;
}

bool isValidUtf8(std::string_view s)
{
    const auto* p = reinterpret_cast<const uint8_t*>(s.data());
    int32_t len = static_cast<int32_t>(s.size());
    if (static_cast<std::size_t>(len) != s.size())
        return false;
    for (int32_t i = 0; i < len;) {
        if (p[i] < 0x80) {
            ++i;
            continue;
        }
        UChar32 c;
        U8_NEXT(p, i, len, c);
        if (c < 0)
            return false;
    }
    return true;
}

char32_t nextCodePoint(std::string_view s, std::size_t& offset)
{
    const auto* p = reinterpret_cast<const uint8_t*>(s.data());
    auto byte = p[offset];
    if (byte < 0x80) {
        ++offset;
        return byte;
    }
    int32_t i = static_cast<int32_t>(offset);
    UChar32 c;
    U8_NEXT(p, i, static_cast<int32_t>(s.size()), c);
    offset = static_cast<std::size_t>(i);
    return c < 0 ? U'\uFFFD' : static_cast<char32_t>(c);
}

std::string toNFC(std::string_view s)
{
    if (isAscii(s))
        return std::string(s);
    UErrorCode status = U_ZERO_ERROR;
    icu::UnicodeString u = fromUtf8(s);
    if (nfc().isNormalized(u, status) && U_SUCCESS(status))
        return std::string(s);
    status = U_ZERO_ERROR;
    icu::UnicodeString n = nfc().normalize(u, status);
    if (U_FAILURE(status))
        return std::string(s);
    std::string out;
    appendUnicodeString(n, out);
    return out;
}

std::string lower(std::string_view s)
{
    std::string out(s);
    if (isAscii(s)) {
        for (char& c : out)
            c = asciiLower(c);
        return out;
    }
    out.clear();
    appendUnicodeString(fromUtf8(s).toLower(icu::Locale::getRoot()), out);
    return out;
}

std::string upper(std::string_view s)
{
    std::string out(s);
    if (isAscii(s)) {
        for (char& c : out)
            c = asciiUpper(c);
        return out;
    }
    out.clear();
    appendUnicodeString(fromUtf8(s).toUpper(icu::Locale::getRoot()), out);
    return out;
}

namespace {

std::string foldWidth(std::string_view s, bool width)
{
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size();) {
        char32_t mapped;
        if (!foldSimple(nextCodePoint(s, i), mapped, width)) {
            out.clear();
            appendUnicodeString(foldSlow(s, width), out);
            return out;
        }
        appendUtf8(mapped, out);
    }
    return out;
}

} // namespace

std::string fold(std::string_view s)
{
    return foldWidth(s, true);
}

std::string foldCaseAndDiacritics(std::string_view s)
{
    return foldWidth(s, false);
}

void foldLettersMarksNumbers(std::string_view s, std::string& out)
{
    out.clear();
    for (std::size_t i = 0; i < s.size();) {
        auto byte = static_cast<unsigned char>(s[i]);
        if (byte < 0x80) {  // the common case, kept out of the decoder
            ++i;
            if (asciiAlnum(static_cast<char>(byte)))
                out.push_back(asciiLower(static_cast<char>(byte)));
            continue;
        }
        char32_t mapped;
        if (!foldSimple(nextCodePoint(s, i), mapped)) {
            out.clear();
            const icu::UnicodeString& folded = foldSlow(s);
            for (int32_t k = 0; k < folded.length();) {
                UChar32 c = folded.char32At(k);
                k += U16_LENGTH(c);
                if (isLMN(c))
                    appendUtf8(static_cast<char32_t>(c), out);
            }
            return;
        }
        if (isLMN(static_cast<UChar32>(mapped)))
            appendUtf8(mapped, out);
    }
}

std::string foldLettersMarksNumbers(std::string_view s)
{
    std::string out;
    foldLettersMarksNumbers(s, out);
    return out;
}

bool isWhiteSpace(char32_t c) { return u_hasBinaryProperty(static_cast<UChar32>(c), UCHAR_WHITE_SPACE); }

bool isLetterMarkOrNumber(char32_t c)
{
    if (c < 0x80)
        return asciiAlnum(static_cast<char>(c));
    return isLMN(static_cast<UChar32>(c));
}

bool isPunctuationOrSymbol(char32_t c)
{
    return (U_GET_GC_MASK(static_cast<UChar32>(c)) & (U_GC_P_MASK | U_GC_S_MASK)) != 0;
}

bool isIdeographic(char32_t c) { return u_hasBinaryProperty(static_cast<UChar32>(c), UCHAR_IDEOGRAPHIC); }

std::size_t graphemeCount(std::string_view s)
{
    if (isAscii(s))
        return asciiGraphemeCount(s);
    return withGraphemes(s, [](icu::BreakIterator* bi) {
        std::size_t count = 0;
        for (int32_t p = bi->next(); p != icu::BreakIterator::DONE; p = bi->next())
            ++count;
        return count;
    });
}

std::size_t graphemeByteOffset(std::string_view s, std::size_t n)
{
    if (n == 0)
        return 0;
    if (isAscii(s))
        return asciiGraphemeOffset(s, n);
    return withGraphemes(s, [&](icu::BreakIterator* bi) {
        std::size_t k = 0;
        for (int32_t p = bi->next(); p != icu::BreakIterator::DONE; p = bi->next())
            if (++k == n)
                return static_cast<std::size_t>(p);
        return s.size();
    });
}

std::size_t graphemesBefore(std::string_view s, std::size_t bytes)
{
    return graphemeCount(s.substr(0, std::min(bytes, s.size())));
}

bool canonicallyEqual(std::string_view a, std::string_view b)
{
    if (a == b)
        return true;
    if (isAscii(a) && isAscii(b))
        return false;
    return CanonicalMatch(b)(a);
}

bool CanonicalMatch::operator()(std::string_view candidate) const
{
    if (candidate == m_composed)
        return true;
    // A composed candidate is its own composition: it differs from ours.
    if (isAscii(candidate))
        return false;
    if (isValidUtf8(candidate)) {
        UErrorCode status = U_ZERO_ERROR;
        const bool composed = nfc().isNormalizedUTF8(
            icu::StringPiece(candidate.data(), static_cast<std::int32_t>(candidate.size())), status);
        if (U_SUCCESS(status) && composed)
            return false;
    }
    return toNFC(candidate) == m_composed;
}

namespace {

// One collator for every comparison and key, so that keys order as comparisons do.
// Const use of a shared collator is thread-safe in ICU.
const icu::Collator* zhCaseInsensitiveCollator()
{
    static const icu::Collator* collator = []() -> icu::Collator* {
        UErrorCode status = U_ZERO_ERROR;
        icu::Collator* c = icu::Collator::createInstance(icu::Locale("zh", "CN"), status);
        if (U_FAILURE(status))
            return nullptr;
        c->setStrength(icu::Collator::SECONDARY);
        return c;
    }();
    return collator;
}

} // namespace

int compareZhCaseInsensitive(std::string_view a, std::string_view b)
{
    const icu::Collator* collator = zhCaseInsensitiveCollator();
    if (!collator)
        return a.compare(b) < 0 ? -1 : (a == b ? 0 : 1);
    UErrorCode status = U_ZERO_ERROR;
    UCollationResult r = collator->compareUTF8(icu::StringPiece(a.data(), static_cast<int32_t>(a.size())),
                                               icu::StringPiece(b.data(), static_cast<int32_t>(b.size())), status);
    return r == UCOL_LESS ? -1 : (r == UCOL_EQUAL ? 0 : 1);
}

void zhCaseInsensitiveKey(std::string_view s, std::string& key)
{
    const icu::Collator* collator = zhCaseInsensitiveCollator();
    if (!collator) {
        key.assign(s);  // compareZhCaseInsensitive then compares bytes too
        return;
    }
    const icu::UnicodeString text =
        icu::UnicodeString::fromUTF8(icu::StringPiece(s.data(), static_cast<int32_t>(s.size())));
    key.resize(std::max<std::size_t>(key.capacity(), 32));
    for (;;) {
        const int32_t needed = collator->getSortKey(text, reinterpret_cast<uint8_t*>(key.data()),
                                                    static_cast<int32_t>(key.size()));
        if (needed <= static_cast<int32_t>(key.size())) {
            key.resize(static_cast<std::size_t>(needed));  // the count takes in a final zero byte
            return;
        }
        key.resize(static_cast<std::size_t>(needed));
    }
}

// A compiled pattern shares nothing mutable between threads; matchers, which
// hold match state, are pooled so that a search per candidate makes no ICU object.
struct Regex::Impl {
    std::unique_ptr<icu::RegexPattern> pattern;
    std::mutex poolMutex;
    std::vector<std::unique_ptr<icu::RegexMatcher>> pool;

    std::unique_ptr<icu::RegexMatcher> takeMatcher()
    {
        {
            std::lock_guard lock(poolMutex);
            if (!pool.empty()) {
                auto m = std::move(pool.back());
                pool.pop_back();
                return m;
            }
        }
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::RegexMatcher> m(pattern->matcher(status));
        if (m && U_SUCCESS(status))
            m->setTimeLimit(kMatchBudgetUnits, status);
        if (U_FAILURE(status))
            m.reset();
        return m;
    }

    void giveBack(std::unique_ptr<icu::RegexMatcher> m)
    {
        std::lock_guard lock(poolMutex);
        pool.push_back(std::move(m));
    }
};

Regex::Regex(std::unique_ptr<Impl> impl) : m_impl(std::move(impl)) {}
Regex::Regex(Regex&&) noexcept = default;
Regex& Regex::operator=(Regex&&) noexcept = default;
Regex::~Regex() = default;

namespace {

std::unique_ptr<icu::RegexPattern> compilePattern(const icu::UnicodeString& pattern, bool caseInsensitive,
                                                  UParseError& where, UErrorCode& status)
{
    std::unique_ptr<icu::RegexPattern> compiled(
        icu::RegexPattern::compile(pattern, caseInsensitive ? UREGEX_CASE_INSENSITIVE : 0, where, status));
    return U_FAILURE(status) ? nullptr : std::move(compiled);
}

// The engine's reason in words; its own name for the rarer ones.
std::string reasonOf(UErrorCode status)
{
    switch (status) {
    case U_REGEX_MISSING_CLOSE_BRACKET: return "缺少 ]";
    case U_REGEX_MISMATCHED_PAREN: return "括号不成对";
    case U_REGEX_RULE_SYNTAX: return "语法错误";
    case U_REGEX_BAD_ESCAPE_SEQUENCE: return "无法识别的转义 \\";
    case U_REGEX_BAD_INTERVAL: return "重复次数 {} 写法有误";
    case U_REGEX_MAX_LT_MIN: return "重复次数的上限小于下限";
    case U_REGEX_NUMBER_TOO_BIG: return "数字过大";
    case U_REGEX_INVALID_RANGE: return "字符范围无效";
    case U_REGEX_PROPERTY_SYNTAX: return "Unicode 属性写法有误";
    case U_REGEX_LOOK_BEHIND_LIMIT: return "后顾断言的长度不定";
    default: return u_errorName(status);
    }
}

} // namespace

std::optional<RegexProblem> Regex::problemWith(std::string_view pattern)
{
    const icu::UnicodeString units = fromUtf8(pattern);
    UErrorCode status = U_ZERO_ERROR;
    UParseError where{};
    if (compilePattern(units, false, where, status))
        return std::nullopt;
    // The engine's offset lies just past the character it stopped at.
    const int32_t offset = std::clamp<int32_t>(where.offset, 1, std::max<int32_t>(units.length(), 1));
    return RegexProblem{reasonOf(status), units.countChar32(0, offset)};
}

std::optional<Regex> Regex::compile(std::string_view pattern, bool caseInsensitive)
{
    UErrorCode status = U_ZERO_ERROR;
    UParseError parseError;
    std::unique_ptr<icu::RegexPattern> compiled = compilePattern(fromUtf8(pattern), caseInsensitive, parseError, status);
    if (!compiled)
        return std::nullopt;
    auto impl = std::make_unique<Impl>();
    impl->pattern = std::move(compiled);
    return Regex(std::move(impl));
}

std::string Regex::escape(std::string_view literal)
{
    static constexpr std::string_view kMeta = "\\^$.|?*+()[]{}-";
    std::string out;
    out.reserve(literal.size() + 8);
    for (char c : literal) {
        if (kMeta.find(c) != std::string_view::npos)
            out.push_back('\\');
        out.push_back(c);
    }
    return out;
}

bool RegexWatch::stopped() const
{
    return m_exceeded.load(std::memory_order_relaxed) >= kGiveUpAfter || (m_cancel && m_cancel->isCancelled());
}

namespace {
// Called by the engine every 10,000 steps of a long match; false ends it.
UBool matchMayGoOn(const void* context, int32_t)
{
    return !static_cast<const RegexWatch*>(context)->stopped();
}
} // namespace

bool Regex::search(std::string_view subject, RegexWatch* watch) const
{
    if (!m_impl || (watch && watch->stopped()))
        return false;
    auto matcher = m_impl->takeMatcher();
    if (!matcher)
        return false;
    // UTF-16 is the regex engine's fast path; one reused buffer per thread.
    // The pooled matcher keeps pointing at this buffer after the call; it is
    // reset to new input before every use, so the stale pointer is never read.
    thread_local icu::UnicodeString buffer;
    UErrorCode status = U_ZERO_ERROR;
    int32_t capacity = static_cast<int32_t>(subject.size()) + 1;  // UTF-16 never needs more units than UTF-8 bytes
    int32_t length = 0;
    UChar* units = buffer.getBuffer(capacity);
    u_strFromUTF8WithSub(units, capacity, &length, subject.data(), static_cast<int32_t>(subject.size()), 0xFFFD,
                         nullptr, &status);
    buffer.releaseBuffer(U_SUCCESS(status) ? length : 0);
    matcher->reset(buffer);
    UErrorCode callbackStatus = U_ZERO_ERROR;
    matcher->setMatchCallback(watch ? matchMayGoOn : nullptr, watch, callbackStatus);
    bool found = U_SUCCESS(status) && matcher->find(0, status) && U_SUCCESS(status);
    if (status == U_REGEX_TIME_OUT && watch)
        watch->m_exceeded.fetch_add(1, std::memory_order_relaxed);
    m_impl->giveBack(std::move(matcher));
    return found;
}

} // namespace pallix::text
