#include <gtest/gtest.h>

#include "Core/Config/EditionRule.h"

namespace pallix {
namespace {

TEST(EditionRule, IdentifierSelectsKeysAndFeatures)
{
    struct Case {
        const char* identifier;
        const char* settingsKey;
        bool sharedDrives;
    };
    const Case cases[] = {
        {"io.pallix.desktop", "PallixMardell.settings", true},
        {"", "PallixMardell.settings", true},  // no identifier
        {"io.pallix.qel", "PallixQel.settings", false},
        {"io.pallix.QEL", "PallixQel.settings", false},        // folded before the test
        {"com.example.marqelle", "PallixQel.settings", false},  // inside a longer word
        {"io.pallix.q-e-l", "PallixMardell.settings", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.identifier);
        const auto edition = AppEditionInfo::forIdentifier(c.identifier);
        EXPECT_EQ(editionDefaultsKey(edition, DefaultsName::Settings), c.settingsKey);
        EXPECT_EQ(hasSharedDriveFeatures(edition), c.sharedDrives);
    }
    EXPECT_EQ(legacyDefaultsKey(DefaultsName::Settings), "Orvandel.settings");
}

} // namespace
} // namespace pallix
