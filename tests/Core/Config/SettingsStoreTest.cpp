#include <gtest/gtest.h>

#include "Core/Config/EditionRule.h"
#include "Core/Config/SettingsStore.h"

namespace pallix {
namespace {

using Json = nlohmann::json;

constexpr const char* kKey = "PallixMardell.settings";

// A minimal accepted document; launchAtLogin and searchLimit differ from the
// fresh record, so a rejected document shows.
Json baseDocument()
{
    return {{"indexedRoots", {"/data"}}, {"excludedPaths", Json::array()}, {"launchAtLogin", true},
            {"keepIndexerInBackground", true}, {"searchLimit", 500}};
}

bool isFresh(const AppSettings& s)
{
    return s == AppSettings{};
}

AppSettings loadRaw(const std::string& bytes, AppEdition edition = AppEdition::Mardell)
{
    auto defaults = Defaults::inMemory();
    defaults->setData(editionDefaultsKey(edition, DefaultsName::Settings), bytes);
    return SettingsStore(defaults, edition).settings();
}

AppSettings load(const Json& doc, AppEdition edition = AppEdition::Mardell)
{
    return loadRaw(doc.dump(), edition);
}

TEST(SettingsStore, FreshRecordWithoutDocument)
{
    auto defaults = Defaults::inMemory();
    SettingsStore store(defaults, AppEdition::Mardell);
    EXPECT_EQ(store.key(), kKey);
    EXPECT_TRUE(isFresh(store.settings()));
    EXPECT_EQ(store.settings().searchLimit, 10000);
    EXPECT_TRUE(store.settings().enableImageFuzzySearch);
    EXPECT_EQ(store.settings().globalHotKey, GlobalHotKey::standard());  // Ctrl+Alt+Space
    // Loading writes nothing back.
    EXPECT_FALSE(defaults->contains(kKey));
}

TEST(SettingsStore, StoredSearchLimitIsNormalised)
{
    const std::pair<std::int64_t, std::int64_t> cases[] = {
        {1200, 10000}, {199, 200}, {10001, 10000}, {200, 200},          {1199, 1199},
        {1201, 1201},  {10000, 10000}, {-5, 200}, {INT64_MAX, 10000}, {INT64_MIN, 200},
    };
    for (const auto& [stored, loaded] : cases) {
        SCOPED_TRACE(stored);
        auto doc = baseDocument();
        doc["searchLimit"] = stored;
        EXPECT_EQ(load(doc).searchLimit, loaded);
    }
}

// An old document's 1200 (the former default) migrates once; a 1200 the user
// chose and this version persisted survives restarts.
TEST(SettingsStore, ChosenLimitOf1200SurvivesRestartWhileOldDefaultMigrates)
{
    auto defaults = Defaults::inMemory();
    auto old = baseDocument();
    old["searchLimit"] = 1200;
    defaults->setData(kKey, old.dump());
    {
        SettingsStore store(defaults, AppEdition::Mardell);
        EXPECT_EQ(store.settings().searchLimit, 10000);
    }
    // Nothing persisted yet: the old document still loads by the old rule.
    EXPECT_EQ(SettingsStore(defaults, AppEdition::Mardell).settings().searchLimit, 10000);
    {
        SettingsStore store(defaults, AppEdition::Mardell);
        auto s = store.settings();
        s.searchLimit = 1200;
        store.setSettings(s);
        ASSERT_TRUE(store.persist());
    }
    EXPECT_EQ(SettingsStore(defaults, AppEdition::Mardell).settings().searchLimit, 1200);
    // Out-of-range values are still clamped once marked.
    auto marked = baseDocument();
    marked["searchLimit"] = 50;
    defaults->setData(kKey, marked.dump());
    EXPECT_EQ(SettingsStore(defaults, AppEdition::Mardell).settings().searchLimit, 200);
    // The marker is per edition: the other edition's old document still migrates.
    auto qelDefaults = defaults;
    qelDefaults->setData(editionDefaultsKey(AppEdition::Qel, DefaultsName::Settings), old.dump());
    EXPECT_EQ(SettingsStore(qelDefaults, AppEdition::Qel).settings().searchLimit, 10000);
}

TEST(SettingsStore, RejectedDocumentsFallBackToFreshRecord)
{
    const auto with = [](const char* key, Json value) {
        auto doc = baseDocument();
        doc[key] = std::move(value);
        return doc.dump();
    };
    const auto without = [](const char* key) {
        auto doc = baseDocument();
        doc.erase(key);
        return doc.dump();
    };
    const std::pair<const char*, std::string> cases[] = {
        {"not JSON", "{\"indexedRoots\": ["},
        {"empty data", ""},
        {"not an object", "[1,2]"},
        {"no searchLimit", without("searchLimit")},
        {"no indexedRoots", without("indexedRoots")},
        {"no excludedPaths", without("excludedPaths")},
        {"no launchAtLogin", without("launchAtLogin")},
        {"no keepIndexerInBackground", without("keepIndexerInBackground")},
        {"null launchAtLogin", with("launchAtLogin", nullptr)},
        {"Bool as number", with("launchAtLogin", 1)},
        {"Bool as text", with("keepIndexerInBackground", "true")},
        {"fractional limit", with("searchLimit", 300.5)},
        {"limit as text", with("searchLimit", "300")},
        {"limit beyond 64 bits", with("searchLimit", 18446744073709551615ull)},
        {"limit as Bool", with("searchLimit", true)},
        {"root not text", with("indexedRoots", Json::array({"/a", 1}))},
        {"roots not a list", with("indexedRoots", "/a")},
        {"junk flag mistyped", with("excludeSystemJunkFromIndex", "yes")},
        {"local scope mistyped", with("includeLocalInSearch", 0)},
        {"server scope mistyped", with("includeServerInSearch", "no")},
        {"unknown scope mode", with("searchScopeMode", "everything")},
        {"scope mode not text", with("searchScopeMode", 2)},
    };
    for (const auto& [what, bytes] : cases) {
        SCOPED_TRACE(what);
        EXPECT_TRUE(isFresh(loadRaw(bytes)));
    }
    // The legacy junk flag is only read when the current one is missing, and then strictly.
    auto legacy = Json::parse(without("excludeSystemJunkFromIndex"));
    legacy["indexOnlyEssentialFileTypes"] = "no";
    EXPECT_TRUE(isFresh(load(legacy)));
    auto ignored = baseDocument();
    ignored["excludeSystemJunkFromIndex"] = false;
    ignored["indexOnlyEssentialFileTypes"] = "no";
    EXPECT_FALSE(isFresh(load(ignored)));
    // A mistyped current scope key rejects even when the other one decides the case.
    auto scope = baseDocument();
    scope["includeLocalInSearch"] = true;
    scope["includeServerInSearch"] = 1;
    EXPECT_TRUE(isFresh(load(scope)));
}

TEST(SettingsStore, OptionalKeysFallBackOneByOne)
{
    auto doc = baseDocument();
    doc["keepAppWarmInBackground"] = "yes";
    doc["autoIndexExternalVolumes"] = 0;
    doc["enableImageFuzzySearch"] = nullptr;
    doc["serverIndexedRoots"] = Json::array({"/srv", 3});
    doc["enableServerIndexing"] = 1;
    doc["autoResumeServerIndexingOnLaunch"] = "true";
    doc["showMenuBarIcon"] = Json::array();
    doc["globalHotKey"] = {{"keyCode", 12}};
    doc["commonSearchTerms"] = "报告";
    const auto s = load(doc);
    // The document itself stood.
    EXPECT_TRUE(s.launchAtLogin);
    EXPECT_EQ(s.searchLimit, 500);
    EXPECT_EQ(s.indexedRoots, std::vector<std::string>{"/data"});
    EXPECT_FALSE(s.keepAppWarmInBackground);
    EXPECT_TRUE(s.autoIndexExternalVolumes);
    EXPECT_FALSE(s.enableImageFuzzySearch);  // unlike a first start
    EXPECT_TRUE(s.serverIndexedRoots.empty());
    EXPECT_FALSE(s.enableServerIndexing);
    EXPECT_FALSE(s.autoResumeServerIndexingOnLaunch);
    EXPECT_TRUE(s.showMenuBarIcon);
    EXPECT_EQ(s.globalHotKey, GlobalHotKey::standard());
    EXPECT_TRUE(s.commonSearchTerms.empty());
}

// A list of common terms far past its limit is cut to the first twelve when
// loaded, and the cut document written back, so later writes of the defaults
// no longer copy the long one; a list within the limit writes nothing.
TEST(SettingsStore, ALongListOfCommonTermsIsCutOnLoadAndWrittenBack)
{
    auto doc = baseDocument();
    Json terms = Json::array();
    for (int i = 0; i < 100000; ++i)
        terms.push_back("词" + std::to_string(i));
    doc["commonSearchTerms"] = terms;
    auto defaults = Defaults::inMemory();
    defaults->setData(kKey, doc.dump());
    const std::size_t storedBefore = defaults->data(kKey)->size();

    SettingsStore store(defaults, AppEdition::Mardell);
    ASSERT_EQ(store.settings().commonSearchTerms.size(), AppSettings::kMaxCommonSearchTerms);
    EXPECT_EQ(store.settings().commonSearchTerms.front(), "词0");
    EXPECT_EQ(store.settings().commonSearchTerms.back(), "词11");
    EXPECT_TRUE(store.settings().launchAtLogin) << "the rest of the document stands";
    EXPECT_LT(defaults->data(kKey)->size() * 100, storedBefore);
    EXPECT_EQ(SettingsStore(defaults, AppEdition::Mardell).settings(), store.settings());

    doc["commonSearchTerms"] = Json::array({"报告", "合同"});
    auto within = Defaults::inMemory();
    within->setData(kKey, doc.dump());
    const std::string untouched = *within->data(kKey);
    EXPECT_EQ(SettingsStore(within, AppEdition::Mardell).settings().commonSearchTerms.size(), 2u);
    EXPECT_EQ(*within->data(kKey), untouched);
}

TEST(SettingsStore, LegacySearchScopeRule)
{
    struct Case {
        const char* what;
        Json keys;
        bool local;
        bool server;
    };
    const Case cases[] = {
        {"nothing stored", Json::object(), true, false},
        {"local off, no server key", {{"includeLocalInSearch", false}}, false, true},
        {"both current keys", {{"includeLocalInSearch", true}, {"includeServerInSearch", false}}, true, false},
        {"server key alone", {{"includeServerInSearch", false}}, true, false},
        {"null local key is absent", {{"includeLocalInSearch", nullptr}, {"includeServerInSearch", true}}, true, true},
        {"current keys beat the mode", {{"includeServerInSearch", false}, {"searchScopeMode", "serverOnly"}}, true, false},
        {"mode all", {{"searchScopeMode", "all"}}, true, true},
        {"mode localOnly", {{"searchScopeMode", "localOnly"}}, true, false},
        {"mode serverOnly", {{"searchScopeMode", "serverOnly"}}, false, true},
        {"result keys both off", {{"includeLocalResultsInSearch", false}, {"includeServerResultsInSearch", false}}, true, true},
        {"result keys server only", {{"includeLocalResultsInSearch", false}, {"includeServerResultsInSearch", true}}, false, true},
        {"result keys mistyped", {{"includeLocalResultsInSearch", "no"}, {"includeServerResultsInSearch", 1}}, true, false},
        {"mode beats result keys", {{"searchScopeMode", "localOnly"}, {"includeServerResultsInSearch", true}}, true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto doc = baseDocument();
        doc.update(c.keys);
        const auto s = load(doc);
        ASSERT_FALSE(isFresh(s));
        EXPECT_EQ(s.includeLocalInSearch, c.local);
        EXPECT_EQ(s.includeServerInSearch, c.server);
    }
}

TEST(SettingsStore, LegacyJunkFlag)
{
    const std::pair<Json, bool> cases[] = {
        {Json::object(), true},
        {{{"indexOnlyEssentialFileTypes", false}}, false},
        {{{"excludeSystemJunkFromIndex", nullptr}, {"indexOnlyEssentialFileTypes", false}}, false},
        {{{"excludeSystemJunkFromIndex", true}, {"indexOnlyEssentialFileTypes", false}}, true},
        {{{"excludeSystemJunkFromIndex", false}}, false},
    };
    for (const auto& [keys, expected] : cases) {
        SCOPED_TRACE(keys.dump());
        auto doc = baseDocument();
        doc.update(keys);
        EXPECT_EQ(load(doc).excludeSystemJunkFromIndex, expected);
    }
}

TEST(SettingsStore, ClearedHotKeyStaysClearedAcrossRestarts)
{
    auto defaults = Defaults::inMemory();
    {
        SettingsStore store(defaults, AppEdition::Mardell);
        auto s = store.settings();
        s.globalHotKey.reset();
        store.setSettings(s);
        ASSERT_TRUE(store.persist());
    }
    EXPECT_NE(defaults->data(kKey)->find("\"globalHotKey\":null"), std::string::npos);
    SettingsStore restarted(defaults, AppEdition::Mardell);
    EXPECT_FALSE(restarted.settings().globalHotKey.has_value());

    // Only a document without the key means the default; a stored Alt+Space stays.
    auto doc = baseDocument();
    EXPECT_EQ(load(doc).globalHotKey, GlobalHotKey::standard());
    doc["globalHotKey"] = {{"keyCode", 49}, {"carbonModifiers", 2048}};
    EXPECT_EQ(load(doc).globalHotKey, GlobalHotKey::optionSpace());
    doc["globalHotKey"] = {{"keyCode", 0}, {"carbonModifiers", 768}};
    EXPECT_EQ(load(doc).globalHotKey, (GlobalHotKey{0, 768}));
}

TEST(SettingsStore, PersistWritesCurrentKeysInOrderAndRoundTrips)
{
    auto doc = baseDocument();
    doc["searchScopeMode"] = "serverOnly";
    doc["includeServerResultsInSearch"] = true;
    doc["includeLocalResultsInSearch"] = false;
    doc["indexOnlyEssentialFileTypes"] = false;
    auto defaults = Defaults::inMemory();
    defaults->setData(kKey, doc.dump());
    SettingsStore store(defaults, AppEdition::Mardell);

    AppSettings s = store.settings();
    s.excludedPaths = {"/data/tmp", "/路径 with space"};
    s.keepAppWarmInBackground = true;
    s.serverIndexedRoots = {"/mnt/青岚共享盘"};
    s.enableServerIndexing = true;
    s.commonSearchTerms = {"报告", "\"quoted\""};
    s.globalHotKey = GlobalHotKey{3, 4096 | 256};
    store.setSettings(s);
    ASSERT_TRUE(store.persist());

    const auto written = *defaults->data(kKey);
    const auto parsed = nlohmann::ordered_json::parse(written);
    std::vector<std::string> keys;
    for (const auto& item : parsed.items())
        keys.push_back(item.key());
    const std::vector<std::string> expected = {
        "indexedRoots", "excludedPaths", "launchAtLogin", "keepIndexerInBackground", "keepAppWarmInBackground",
        "searchLimit", "autoIndexExternalVolumes", "excludeSystemJunkFromIndex", "enableImageFuzzySearch",
        "serverIndexedRoots", "enableServerIndexing", "includeLocalInSearch", "includeServerInSearch",
        "autoResumeServerIndexingOnLaunch", "showMenuBarIcon", "globalHotKey", "commonSearchTerms"};
    EXPECT_EQ(keys, expected);
    EXPECT_EQ(written.find('\n'), std::string::npos);  // compact
    EXPECT_EQ(SettingsStore(defaults, AppEdition::Mardell).settings(), s);
}

TEST(SettingsStore, UnencodableRecordLeavesStoredDocument)
{
    auto defaults = Defaults::inMemory();
    SettingsStore store(defaults, AppEdition::Mardell);
    ASSERT_TRUE(store.persist());
    const auto before = defaults->data(kKey);
    auto s = store.settings();
    s.indexedRoots = {"/bad\xff"};
    store.setSettings(s);
    EXPECT_FALSE(store.persist());
    EXPECT_EQ(defaults->data(kKey), before);
    EXPECT_EQ(store.settings().indexedRoots, s.indexedRoots);
}

TEST(SettingsStore, OtherEditionDropsSharedDrives)
{
    auto doc = baseDocument();
    doc["serverIndexedRoots"] = {"/mnt/share"};
    doc["enableServerIndexing"] = true;
    doc["searchScopeMode"] = "serverOnly";
    auto defaults = Defaults::inMemory();
    defaults->setData("PallixQel.settings", doc.dump());
    SettingsStore store(defaults, AppEdition::Qel);
    EXPECT_EQ(store.key(), "PallixQel.settings");
    EXPECT_TRUE(store.settings().serverIndexedRoots.empty());
    EXPECT_FALSE(store.settings().enableServerIndexing);
    EXPECT_FALSE(store.settings().includeServerInSearch);
    // Local disks are this edition's only scope; with them off it would find nothing.
    EXPECT_TRUE(store.settings().includeLocalInSearch);
    EXPECT_EQ(store.settings().searchLimit, 500);
    // Until the next persist the stored bytes keep the roots.
    EXPECT_EQ(*defaults->data("PallixQel.settings"), doc.dump());
    store.persist();
    EXPECT_EQ(defaults->data("PallixQel.settings")->find("/mnt/share"), std::string::npos);
    // The default edition keeps them.
    EXPECT_EQ(load(doc).serverIndexedRoots, std::vector<std::string>{"/mnt/share"});
}

TEST(SettingsStore, LegacyDocumentIsCopiedOnlyWhenTheEditionKeyIsEmpty)
{
    auto legacyDoc = baseDocument();
    legacyDoc["searchLimit"] = 777;
    {
        auto defaults = Defaults::inMemory();
        defaults->setData("Orvandel.settings", legacyDoc.dump());
        SettingsStore store(defaults, AppEdition::Qel);
        EXPECT_EQ(store.settings().searchLimit, 777);
        EXPECT_EQ(defaults->data("PallixQel.settings"), legacyDoc.dump());
        EXPECT_EQ(defaults->data("Orvandel.settings"), legacyDoc.dump());  // left in place
    }
    {
        auto current = baseDocument();
        auto defaults = Defaults::inMemory();
        defaults->setData("Orvandel.settings", legacyDoc.dump());
        defaults->setData(kKey, current.dump());
        SettingsStore store(defaults, AppEdition::Mardell);
        EXPECT_EQ(store.settings().searchLimit, 500);
        EXPECT_EQ(defaults->data(kKey), current.dump());
    }
    {
        // Empty data under the edition's key still counts as present.
        auto defaults = Defaults::inMemory();
        defaults->setData("Orvandel.settings", legacyDoc.dump());
        defaults->setData(kKey, "");
        SettingsStore store(defaults, AppEdition::Mardell);
        EXPECT_TRUE(isFresh(store.settings()));
        EXPECT_EQ(defaults->data(kKey), std::string());
    }
}

} // namespace
} // namespace pallix
