#include "Core/Config/AppSettings.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

namespace pallix {

namespace {

using Json = nlohmann::json;

// One key of the document: absent (missing or null), present with a value of
// the expected type, or present but mistyped (present and no value).
template <class T>
struct Field {
    bool present = false;
    std::optional<T> value;
    bool mistyped() const { return present && !value; }
};

template <class Convert>
auto readField(const Json& doc, std::string_view key, Convert convert)
    -> Field<typename decltype(convert(std::declval<const Json&>()))::value_type>
{
    const auto it = doc.find(key);
    if (it == doc.end() || it->is_null())
        return {};
    return {true, convert(*it)};
}

std::optional<bool> toBool(const Json& v)
{
    // Only true and false: 0 and 1 are numbers, not Bools.
    return v.is_boolean() ? std::optional<bool>(v.get<bool>()) : std::nullopt;
}

std::optional<std::int64_t> toInt64(const Json& v)
{
    if (v.is_number_unsigned()) {
        const auto u = v.get<std::uint64_t>();
        if (u > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
            return std::nullopt;
        return static_cast<std::int64_t>(u);
    }
    if (v.is_number_integer())
        return v.get<std::int64_t>();
    if (v.is_number_float()) {
        // 10000.0 is an integer written by another encoder; 10000.5 is not.
        const double d = v.get<double>();
        constexpr double kLimit = 9223372036854775808.0;  // 2^63
        if (!std::isfinite(d) || d != std::trunc(d) || d < -kLimit || d >= kLimit)
            return std::nullopt;
        return static_cast<std::int64_t>(d);
    }
    return std::nullopt;
}

std::optional<std::vector<std::string>> toStringList(const Json& v)
{
    if (!v.is_array())
        return std::nullopt;
    std::vector<std::string> list;
    list.reserve(v.size());
    for (const auto& element : v) {
        if (!element.is_string())
            return std::nullopt;
        list.push_back(element.get<std::string>());
    }
    return list;
}

Field<bool> boolField(const Json& doc, std::string_view key) { return readField(doc, key, toBool); }
Field<std::vector<std::string>> listField(const Json& doc, std::string_view key)
{
    return readField(doc, key, toStringList);
}

template <class T>
bool takeRequired(const Field<T>& field, T& out)
{
    if (!field.value)
        return false;
    out = *field.value;
    return true;
}

bool decodeExcludeSystemJunk(const Json& doc, AppSettings& s)
{
    const auto current = boolField(doc, "excludeSystemJunkFromIndex");
    if (current.mistyped())
        return false;
    if (current.value) {
        s.excludeSystemJunkFromIndex = *current.value;
        return true;
    }
    const auto legacy = boolField(doc, "indexOnlyEssentialFileTypes");
    if (legacy.mistyped())
        return false;
    s.excludeSystemJunkFromIndex = legacy.value.value_or(true);
    return true;
}

// The scope keys of older versions, first matching case wins.
bool decodeSearchScope(const Json& doc, AppSettings& s)
{
    // Both current keys are read before a case is chosen, so either mistyped rejects.
    const auto local = boolField(doc, "includeLocalInSearch");
    const auto server = boolField(doc, "includeServerInSearch");
    if (local.mistyped() || server.mistyped())
        return false;
    if (local.value) {
        s.includeLocalInSearch = *local.value;
        s.includeServerInSearch = server.value.value_or(true);
        return true;
    }
    if (server.value) {
        s.includeLocalInSearch = true;
        s.includeServerInSearch = *server.value;
        return true;
    }
    const auto modeIt = doc.find("searchScopeMode");
    if (modeIt != doc.end() && !modeIt->is_null()) {
        if (!modeIt->is_string())
            return false;
        const auto& mode = modeIt->get_ref<const std::string&>();
        if (mode != "all" && mode != "localOnly" && mode != "serverOnly")
            return false;
        s.includeLocalInSearch = mode != "serverOnly";
        s.includeServerInSearch = mode != "localOnly";
        return true;
    }
    const bool serverResults = boolField(doc, "includeServerResultsInSearch").value.value_or(false);
    const bool localResults = boolField(doc, "includeLocalResultsInSearch").value.value_or(true);
    s.includeLocalInSearch = localResults || !serverResults;
    s.includeServerInSearch = serverResults || !localResults;
    return true;
}

void decodeGlobalHotKey(const Json& doc, AppSettings& s)
{
    const auto it = doc.find("globalHotKey");
    if (it == doc.end())
        s.globalHotKey = GlobalHotKey::standard();
    else if (it->is_null())
        s.globalHotKey = std::nullopt;  // the user cleared it; keep it cleared
    else
        s.globalHotKey = GlobalHotKey::fromJson(*it).value_or(GlobalHotKey::standard());
}

} // namespace

std::optional<AppSettings> AppSettings::decode(std::string_view json, bool* cut)
{
    const Json doc = Json::parse(json, nullptr, /*allow_exceptions=*/false);
    if (doc.is_discarded() || !doc.is_object())
        return std::nullopt;

    AppSettings s;
    if (!takeRequired(listField(doc, "indexedRoots"), s.indexedRoots)
        || !takeRequired(listField(doc, "excludedPaths"), s.excludedPaths)
        || !takeRequired(boolField(doc, "launchAtLogin"), s.launchAtLogin)
        || !takeRequired(boolField(doc, "keepIndexerInBackground"), s.keepIndexerInBackground)
        || !takeRequired(readField(doc, "searchLimit", toInt64), s.searchLimit))
        return std::nullopt;
    if (!decodeExcludeSystemJunk(doc, s) || !decodeSearchScope(doc, s))
        return std::nullopt;

    s.keepAppWarmInBackground = boolField(doc, "keepAppWarmInBackground").value.value_or(false);
    s.autoIndexExternalVolumes = boolField(doc, "autoIndexExternalVolumes").value.value_or(true);
    s.enableImageFuzzySearch = boolField(doc, "enableImageFuzzySearch").value.value_or(false);
    s.serverIndexedRoots = listField(doc, "serverIndexedRoots").value.value_or(std::vector<std::string>{});
    s.enableServerIndexing = boolField(doc, "enableServerIndexing").value.value_or(false);
    s.autoResumeServerIndexingOnLaunch =
        boolField(doc, "autoResumeServerIndexingOnLaunch").value.value_or(false);
    s.showMenuBarIcon = boolField(doc, "showMenuBarIcon").value.value_or(true);
    decodeGlobalHotKey(doc, s);
    s.commonSearchTerms = listField(doc, "commonSearchTerms").value.value_or(std::vector<std::string>{});
    if (s.commonSearchTerms.size() > kMaxCommonSearchTerms) {
        s.commonSearchTerms.resize(kMaxCommonSearchTerms);
        s.commonSearchTerms.shrink_to_fit();
        if (cut)
            *cut = true;
    }
    return s;
}

std::optional<std::string> AppSettings::encode() const
{
    nlohmann::ordered_json doc = nlohmann::ordered_json::object();
    doc["indexedRoots"] = indexedRoots;
    doc["excludedPaths"] = excludedPaths;
    doc["launchAtLogin"] = launchAtLogin;
    doc["keepIndexerInBackground"] = keepIndexerInBackground;
    doc["keepAppWarmInBackground"] = keepAppWarmInBackground;
    doc["searchLimit"] = searchLimit;
    doc["autoIndexExternalVolumes"] = autoIndexExternalVolumes;
    doc["excludeSystemJunkFromIndex"] = excludeSystemJunkFromIndex;
    doc["enableImageFuzzySearch"] = enableImageFuzzySearch;
    doc["serverIndexedRoots"] = serverIndexedRoots;
    doc["enableServerIndexing"] = enableServerIndexing;
    doc["includeLocalInSearch"] = includeLocalInSearch;
    doc["includeServerInSearch"] = includeServerInSearch;
    doc["autoResumeServerIndexingOnLaunch"] = autoResumeServerIndexingOnLaunch;
    doc["showMenuBarIcon"] = showMenuBarIcon;
    doc["globalHotKey"] = globalHotKey ? globalHotKey->toJson() : nlohmann::ordered_json(nullptr);
    doc["commonSearchTerms"] = commonSearchTerms;
    try {
        return doc.dump();
    } catch (const nlohmann::json::type_error&) {
        // A path that is not valid UTF-8 has no JSON form; the caller keeps the old document.
        return std::nullopt;
    }
}

std::int64_t AppSettings::clampedSearchLimit(std::int64_t limit)
{
    return std::clamp(limit, kMinSearchLimit, kMaxSearchLimit);
}

std::int64_t AppSettings::normalizedStoredSearchLimit(std::int64_t limit)
{
    // Older versions stored 1200 as their default; it loads as today's default.
    if (limit == 1200)
        return kMaxSearchLimit;
    return clampedSearchLimit(limit);
}

} // namespace pallix
