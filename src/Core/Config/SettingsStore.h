#pragma once
// SettingsStore: keeps the one AppSettings record and its JSON document under
// the edition's "settings" key of the user defaults. Loading never fails: a
// missing or rejected document gives the fresh record, and the stored bytes
// stay untouched until the next persist(). Not thread-safe: the application
// model owns it and uses it on the GUI thread only.
//
// Every change follows one order: copy settings(), change the copy, setSettings(),
// persist(); nothing else writes the document.

#include <memory>
#include <string>

#include "Core/Config/AppSettings.h"
#include "Core/Models/AppEdition.h"
#include "Platform/Defaults.h"

namespace pallix {

class SettingsStore {
public:
    // Copies the legacy document to the edition's key when that key holds no
    // data, then loads and normalises the record.
    explicit SettingsStore(std::shared_ptr<Defaults> defaults,
                           AppEdition edition = AppEditionInfo::current());

    const AppSettings& settings() const { return m_settings; }
    void setSettings(AppSettings settings) { m_settings = std::move(settings); }

    // Writes the whole record under key() and marks the stored search limit as
    // the user's own. False when it could not be encoded or written; the
    // in-memory record stays as it is either way.
    bool persist();

    // "PallixMardell.settings" or "PallixQel.settings".
    const std::string& key() const { return m_key; }
    // The marker of a document whose search limit needs no migration.
    const std::string& limitMarkerKey() const { return m_limitMarkerKey; }

private:
    // `cut`: see AppSettings::decode().
    AppSettings load(bool* cut = nullptr) const;

    std::shared_ptr<Defaults> m_defaults;
    AppEdition m_edition;
    std::string m_key;
    std::string m_limitMarkerKey;
    AppSettings m_settings;
};

} // namespace pallix
