#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <string>
#include <vector>

#include "Core/Search/SearchEngine.h"
#include "Platform/Text.h"
#include "SearchTestItems.h"

using namespace pallix;
using namespace pallix::testing;

namespace {

struct RankCase {
    std::string path;
    std::vector<std::string> tokens;
    SearchMatchMode mode;
    bool caseSensitive;
    std::optional<std::int64_t> expected;
};

constexpr auto Contains = SearchMatchMode::Contains;
constexpr auto Prefix = SearchMatchMode::Prefix;
constexpr auto Suffix = SearchMatchMode::Suffix;
constexpr auto Exact = SearchMatchMode::Exact;
constexpr std::nullopt_t None = std::nullopt;

std::string describe(const RankCase& c)
{
    std::string s = c.path + " with";
    for (const std::string& t : c.tokens)
        s += " [" + t + "]";
    s += " mode " + std::string(rawValue(c.mode)) + (c.caseSensitive ? " case-sensitive" : "");
    s += " should rank " + (c.expected ? std::to_string(*c.expected) : std::string("nothing"));
    return s;
}

void expectRanks(const std::vector<RankCase>& cases)
{
    for (const RankCase& c : cases) {
        SCOPED_TRACE(describe(c));
        const IndexedItem item = fileAt(c.path);
        EXPECT_EQ(SearchEngine::nameMatchRank(item.ref(), tokenQuery(c.tokens, c.mode, c.caseSensitive)), c.expected);
    }
}

} // namespace

TEST(SearchRank, WorkedExamples)
{
    expectRanks({
        // Exact and normalized exact names.
        {"/Users/a/Report.pdf", {"report"}, Contains, false, 0},
        {"/Users/a/Report.pdf", {"Report.PDF"}, Contains, false, 0},
        {"/Users/a/re-port.txt", {"report"}, Contains, false, 5},
        // Word start, then substring with its position.
        {"/Users/a/Report-Final.docx", {"final"}, Contains, false, 117},
        {"/Users/a/myfinalreport.txt", {"final"}, Contains, false, 222},
        // Subsequence of the normalized name beats the path subsequence (456).
        {"/Users/a/quarterly_report.xlsx", {"qrpt"}, Contains, false, 355},
        // Only the path holds the token.
        {"/Users/a/docs/plan.txt", {"docs"}, Contains, false, 396},
        {"/Users/a/docs/plan.txt", {"docs"}, Prefix, false, 365},
        // Several tokens: the worst one decides, and one miss fails the item.
        {"/Users/a/report-2024.pdf", {"report", "2024"}, Contains, false, 116},
        {"/Users/a/report-2024.pdf", {"report", "zzz"}, Contains, false, None},
        {"/Users/a/report-2024.pdf", {}, Contains, false, None},
        // Prefix mode has no exact tier.
        {"/Users/a/Report.pdf", {"rep"}, Prefix, false, 17},
        {"/Users/a/Report.pdf", {"report"}, Prefix, false, 14},
        {"/Users/a/x.txt", {"users"}, Prefix, false, 377},
        // Exact mode tries no path and no subsequence tier.
        {"/Users/a/Report.pdf", {"report"}, Exact, false, 0},
        {"/Users/a/Report.pdf", {"rep"}, Exact, false, None},
        // Suffix mode measures the excess on the whole name.
        {"/Users/a/photo.jpeg", {"jpeg"}, Suffix, false, 206},
        {"/Users/a/photo.jpeg", {"photo"}, Suffix, false, 205},
        // Case-sensitive: only the normalized forms ignore case.
        {"/Users/a/Report.pdf", {"report"}, Contains, true, 5},
        {"/Users/a/Report.pdf", {"REPORT"}, Contains, true, 5},
        {"/Users/a/Report.pdf", {"Report"}, Contains, true, 0},
        // A one-character token never reaches the subsequence tiers.
        {"/Users/a/x.txt", {"q"}, Contains, false, None},
    });
}

TEST(SearchRank, TiersOfEachMode)
{
    expectRanks({
        // contains: cn prefix, cnx prefix (the name has a dot inside), normalized prefixes and substrings.
        {"/d/reports.txt", {"report"}, Contains, false, 10 + 5},
        {"/d/a.b-c.txt", {"a.b-c"}, Contains, false, 0},
        {"/d/Ｒｅｐｏｒｔ.pdf", {"report"}, Contains, false, 5},
        {"/d/re_port_final.pdf", {"report"}, Contains, false, 240 + 8},
        {"/d/x-re_port.pdf", {"report"}, Contains, false, 280 + 4 * 1 + 4},
        // Normalized path substring: ct "re-port" is not in the path, nt "report" is.
        {"/Users/a/re port/x.txt", {"re-port"}, Contains, false, 390 + 2 * 6 + 10},
        // prefix: cnx, the normalized forms, then the path tiers.
        {"/d/report.final.pdf", {"report.final"}, Prefix, false, 10 + 4},
        {"/d/re-port.pdf", {"report"}, Prefix, false, 240 + 3},
        {"/d/docs/x.txt", {"/d/do"}, Prefix, false, 355 + 8},
        // suffix: normalized suffix, path suffix.
        {"/d/photo-2.jpeg", {"2jpeg"}, Suffix, false, 280 + 5},
        // exact: normalized name without extension.
        {"/d/re-port.pdf", {"report"}, Exact, false, 5},
        {"/d/re-port.pdf", {"reportpdf"}, Exact, false, 5},
        // Case-sensitive prefix falls to the normalized tier for the other case.
        {"/Users/a/Report.pdf", {"Rep"}, Prefix, true, 17},
        {"/Users/a/Report.pdf", {"rep"}, Prefix, true, 246},
        // Case-sensitive path: cp keeps case, so only the path subsequence holds.
        {"/Users/A/Docs/plan.txt", {"docs"}, Contains, true, 435 + 13},
    });
}

TEST(SearchRank, CountsUserPerceivedCharactersNotBytes)
{
    expectRanks({
        // 季度报告总结.docx: 11 characters, 报告 at character 2 (byte 6).
        {"/Users/a/季度报告总结.docx", {"报告"}, Contains, false, 200 + 5 * 2 + 9},
        {"/Users/a/报告.docx", {"报告"}, Contains, false, 0},
        // Word index among words split at non-alphanumerics (the middle dot).
        {"/Users/a/年度·报告.txt", {"报告"}, Contains, false, 100 + 5 + 7},
        // A decomposed name on disk matches the composed token.
        {"/Users/a/Cafe\u0301.txt", {"café"}, Contains, false, 0},
        {"/Users/a/Cafe\u0301 menu.txt", {"menu"}, Contains, false, 100 + 5 + 9},
        // Diacritics fold away in the normalized forms.
        {"/Users/a/résumé.pdf", {"resume"}, Contains, false, 5},
    });
}

TEST(SearchRank, PathPositionIsCappedAt120Characters)
{
    // A one-character token, so that no subsequence tier competes: q only occurs
    // in the path, at character 152, which counts as 120.
    const std::string path = "/" + std::string(150, 'a') + "/q/plan.txt";
    const std::int64_t excess = static_cast<std::int64_t>(path.size()) - 1;
    expectRanks({{path, {"q"}, Contains, false, 360 + 2 * 120 + excess}});
    // Below the cap the position counts in full.
    expectRanks({{"/abc/q/plan.txt", {"q"}, Contains, false, 360 + 2 * 5 + 14}});
}

TEST(SearchRank, TokenWithoutLettersOrDigitsMatchesNothing)
{
    // Normalizes to the empty text; it would otherwise match every name at 240 + count(nn).
    expectRanks({
        {"/Users/a/Report.pdf", {"\u200B"}, Contains, false, None},
        {"/Users/a/Report.pdf", {"\u200B"}, Prefix, false, None},
        {"/Users/a/Report.pdf", {"\u200B"}, Suffix, false, None},
        {"/Users/a/Report.pdf", {"report", "\u200B"}, Contains, false, None},
    });
}

TEST(SearchRank, FolderItemsRankByTheirOwnName)
{
    const IndexedItem folder = folderAt("/Users/a/Projects");
    EXPECT_EQ(SearchEngine::nameMatchRank(folder.ref(), tokenQuery({"projects"})), 0);
    EXPECT_EQ(SearchEngine::nameMatchRank(folder.ref(), tokenQuery({"proj"})), 10 + 4);
}

TEST(SearchRank, HelperFunctions)
{
    EXPECT_EQ(SearchEngine::boundaryPrefixIndex("report-final.docx", "final"), 1u);
    EXPECT_EQ(SearchEngine::boundaryPrefixIndex("--a--b", "b"), 1u);
    EXPECT_EQ(SearchEngine::boundaryPrefixIndex("myfinal", "final"), std::nullopt);
    EXPECT_EQ(SearchEngine::boundaryPrefixIndex("", "x"), std::nullopt);

    EXPECT_TRUE(SearchEngine::isSubsequence("qrpt", "quarterlyreport"));
    EXPECT_FALSE(SearchEngine::isSubsequence("", "abc"));
    EXPECT_FALSE(SearchEngine::isSubsequence("aa", "abc"));  // repeats need repeats
    EXPECT_TRUE(SearchEngine::isSubsequence("aa", "bab a"));
    EXPECT_TRUE(SearchEngine::isSubsequence("报告", "年度报表告示"));
    EXPECT_FALSE(SearchEngine::isSubsequence("告报", "报告"));
    // Characters are whole clusters: a bare e is not the e of e + U+0330.
    EXPECT_FALSE(SearchEngine::isSubsequence("ex", "e\u0330x"));
    EXPECT_TRUE(SearchEngine::isSubsequence("e\u0330x", "ae\u0330bx"));

    EXPECT_EQ(SearchEngine::normalized("Ｒé-port 2024!"), "report2024");
    EXPECT_EQ(SearchEngine::normalized("—…"), "");
}

// ---------------------------------------------------------------------------
// A literal reading of the ranking rules, with no shortcut, against which the
// engine's skipping of tiers and its assembled path forms are checked.

namespace {

std::size_t count(std::string_view s) { return text::graphemeCount(s); }
std::int64_t d(std::string_view a, std::string_view b)
{
    return std::max<std::int64_t>(std::int64_t(count(a)) - std::int64_t(count(b)), 0);
}
bool has(std::string_view h, std::string_view n) { return h.find(n) != std::string_view::npos; }
bool starts(std::string_view s, std::string_view p) { return s.substr(0, p.size()) == p; }
bool ends(std::string_view s, std::string_view p) { return s.size() >= p.size() && s.substr(s.size() - p.size()) == p; }
std::int64_t pos(std::string_view h, std::string_view n)
{
    std::size_t at = h.find(n);
    return at == std::string_view::npos ? 0 : std::int64_t(count(h.substr(0, at)));
}

bool referenceSubsequence(std::string_view needle, std::string_view hay)
{
    if (needle.empty())
        return false;
    auto next = [](std::string_view& s) {
        std::size_t n = text::graphemeByteOffset(s, 1);
        std::string_view c = s.substr(0, n);
        s.remove_prefix(n);
        return c;
    };
    while (!needle.empty()) {
        std::string_view want = next(needle);
        for (;;) {
            if (hay.empty())
                return false;
            if (next(hay) == want)
                break;
        }
    }
    return true;
}

std::optional<std::int64_t> referenceNameRank(std::string_view ct, std::string_view nt, std::string_view cn,
                                              std::string_view cnx, std::string_view nn, std::string_view nnx,
                                              SearchMatchMode mode)
{
    switch (mode) {
    case SearchMatchMode::Contains:
        if (cn == ct || cnx == ct) return 0;
        if (nn == nt || nnx == nt) return 5;
        if (starts(cn, ct)) return 10 + d(cn, ct);
        if (starts(cnx, ct)) return 20 + d(cnx, ct);
        if (auto b = SearchEngine::boundaryPrefixIndex(cn, ct)) return 100 + 5 * std::int64_t(*b) + d(cn, ct);
        if (!ct.empty() && (has(cn, ct) || has(cnx, ct))) return 200 + 5 * pos(cn, ct) + d(cn, ct);
        if (starts(nn, nt)) return 240 + d(nn, nt);
        if (starts(nnx, nt)) return 250 + d(nnx, nt);
        if (nt.empty()) return std::nullopt;
        if (has(nn, nt) || has(nnx, nt)) return 280 + 4 * pos(nn, nt) + d(nn, nt);
        return std::nullopt;
    case SearchMatchMode::Prefix:
        if (starts(cn, ct)) return 10 + d(cn, ct);
        if (starts(cnx, ct)) return 20 + d(cnx, ct);
        if (starts(nn, nt)) return 240 + d(nn, nt);
        if (starts(nnx, nt)) return 250 + d(nnx, nt);
        return std::nullopt;
    case SearchMatchMode::Suffix:
        if (ends(cn, ct) || ends(cnx, ct)) return 200 + d(cn, ct);
        if (ends(nn, nt) || ends(nnx, nt)) return 280 + d(nn, nt);
        return std::nullopt;
    case SearchMatchMode::Exact:
        if (cn == ct || cnx == ct) return 0;
        if (nn == nt || nnx == nt) return 5;
        return std::nullopt;
    }
    return std::nullopt;
}

std::optional<std::int64_t> referencePathRank(std::string_view cp, std::string_view np, std::string_view pn,
                                              std::string_view ct, std::string_view nt, SearchMatchMode mode)
{
    if (ct.empty())
        return std::nullopt;
    switch (mode) {
    case SearchMatchMode::Contains:
        if (has(cp, ct)) return 360 + 2 * std::min<std::int64_t>(pos(cp, ct), 120) + d(cp, ct);
        if (!nt.empty() && nt != ct && has(np, nt)) return 390 + 2 * std::min<std::int64_t>(pos(np, nt), 120) + d(np, nt);
        return std::nullopt;
    case SearchMatchMode::Prefix:
        if (starts(cp, ct)) return 355 + d(cp, ct);
        if (starts(pn, ct)) return 365 + d(pn, ct);
        if (!nt.empty() && starts(np, nt)) return 372 + d(np, nt);
        return std::nullopt;
    case SearchMatchMode::Suffix:
        if (ends(cp, ct)) return 358 + d(cp, ct);
        return std::nullopt;
    case SearchMatchMode::Exact:
        return std::nullopt;
    }
    return std::nullopt;
}

std::optional<std::int64_t> referenceRank(const IndexedItem& item, const SearchQuery& q)
{
    if (q.tokens.empty())
        return std::nullopt;
    const bool cs = q.caseSensitive;
    const std::string name = text::toNFC(item.name());
    const std::string cn = cs ? name : text::lower(name);
    const std::string cnx = cs ? std::string(paths::deletingExtension(name)) : text::lower(paths::deletingExtension(name));
    const std::string nn = SearchEngine::normalized(cn);
    const std::string nnx = SearchEngine::normalized(cnx);
    const std::string path = text::toNFC(item.path());
    const std::string cp = cs ? path : text::lower(path);
    const std::string np = SearchEngine::normalized(cp);
    std::string_view parent = paths::deletingLastComponent(path);
    std::string pn = parent == "/" ? "/" : std::string(paths::lastComponent(parent));
    if (!cs)
        pn = text::lower(pn);

    std::optional<std::int64_t> worst;
    for (const std::string& token : q.tokens) {
        const std::string ct = cs ? text::toNFC(token) : text::lower(text::toNFC(token));
        const std::string nt = SearchEngine::normalized(ct);
        if (nt.empty())
            return std::nullopt;
        std::vector<std::int64_t> candidates;
        if (auto r = referenceNameRank(ct, nt, cn, cnx, nn, nnx, q.matchMode)) candidates.push_back(*r);
        if (auto r = referencePathRank(cp, np, pn, ct, nt, q.matchMode)) candidates.push_back(*r);
        if (q.matchMode == SearchMatchMode::Contains && count(nt) >= 2) {
            if (referenceSubsequence(nt, nn) || referenceSubsequence(nt, nnx)) candidates.push_back(340 + d(nn, nt));
            if (referenceSubsequence(nt, np)) candidates.push_back(435 + d(np, nt));
        }
        if (candidates.empty())
            return std::nullopt;
        const std::int64_t best = *std::min_element(candidates.begin(), candidates.end());
        worst = worst ? std::max(*worst, best) : best;
    }
    return worst;
}

} // namespace

TEST(SearchRank, AgreesWithLiteralRulesOnGeneratedItems)
{
    const std::vector<std::string> pieces{"re", "port", "Re", "PORT", "a", "b", "2024", "-", "_", ".", " ",
                                          "报告", "季度", "É", "e\u0301", "Ｒ", "x", "doc", "s", "Σ", "ß", "İ"};
    std::mt19937 rng(20240315);
    auto word = [&](int maxPieces) {
        std::string w;
        const int n = 1 + int(rng() % maxPieces);
        for (int i = 0; i < n; ++i)
            w += pieces[rng() % pieces.size()];
        return w;
    };
    const SearchMatchMode modes[] = {Contains, Prefix, Suffix, Exact};
    for (int i = 0; i < 4000; ++i) {
        std::string path;
        const int depth = 1 + int(rng() % 3);
        for (int k = 0; k < depth; ++k)
            path += "/" + word(3);
        path += "/" + word(4) + (rng() % 2 ? ".txt" : "");
        const IndexedItem item = fileAt(path);
        std::vector<std::string> tokens{word(2)};
        if (rng() % 3 == 0)
            tokens.push_back(word(2));
        const SearchQuery q = tokenQuery(tokens, modes[rng() % 4], rng() % 4 == 0);
        SCOPED_TRACE("path " + std::string(item.path()) + " token " + tokens.front() + " mode " + std::string(rawValue(q.matchMode)) +
                     (q.caseSensitive ? " case-sensitive" : ""));
        ASSERT_EQ(SearchEngine::nameMatchRank(item.ref(), q), referenceRank(item, q));
    }
}
