#include "Core/Config/SettingsStore.h"

#include <cassert>

#include "Core/Config/EditionRule.h"

namespace pallix {

SettingsStore::SettingsStore(std::shared_ptr<Defaults> defaults, AppEdition edition)
    : m_defaults(std::move(defaults))
    , m_edition(edition)
    , m_key(editionDefaultsKey(edition, DefaultsName::Settings))
    , m_limitMarkerKey(editionDefaultsKey(edition, DefaultsName::SearchLimitStoredAsChosen))
{
    assert(m_defaults);
    // Data already under the edition's key, even empty data, wins over the legacy
    // document, which stays in place for older versions.
    if (!m_defaults->data(m_key)) {
        if (auto legacy = m_defaults->data(legacyDefaultsKey(DefaultsName::Settings)))
            m_defaults->setData(m_key, *legacy);
    }
    bool cut = false;
    m_settings = load(&cut);
    // A list far past its limit (written by hand or by another program) would
    // otherwise stay in the document, which every later write copies whole.
    if (cut)
        persist();
}

AppSettings SettingsStore::load(bool* cut) const
{
    const auto bytes = m_defaults->data(m_key);
    if (!bytes)
        return {};
    auto decoded = AppSettings::decode(*bytes, cut);
    if (!decoded)
        return {};
    AppSettings s = std::move(*decoded);
    // Older versions stored 1200 as their default. Every document this version
    // writes carries the marker, so a limit of 1200 the user chose survives a
    // restart while an old default still becomes today's.
    s.searchLimit = m_defaults->boolean(m_limitMarkerKey).value_or(false)
                        ? AppSettings::clampedSearchLimit(s.searchLimit)
                        : AppSettings::normalizedStoredSearchLimit(s.searchLimit);
    if (!hasSharedDriveFeatures(m_edition)) {
        s.serverIndexedRoots.clear();
        s.enableServerIndexing = false;
        s.includeServerInSearch = false;
        // Local disks are this edition's only scope, and it shows no control to
        // turn them back on: a document from the other edition with local search
        // off would otherwise leave nothing to search.
        s.includeLocalInSearch = true;
    }
    return s;
}

bool SettingsStore::persist()
{
    const auto document = m_settings.encode();
    // The marker goes after the document: a failed write leaves the old
    // document read by the old rule.
    return document && m_defaults->setData(m_key, *document) && m_defaults->setBoolean(m_limitMarkerKey, true);
}

} // namespace pallix
