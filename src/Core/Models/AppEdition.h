#pragma once
// The edition of the running application, worked out anew on every read from
// the application identifier: the build's PALLIX_APP_ID, overridden by the
// environment variable of the same name.

#include <string>
#include <string_view>

namespace pallix {

enum class AppEdition { Mardell, Qel };

struct AppEditionInfo {
    static AppEdition current();
    // Qel when the lower-cased identifier contains "qel".
    static AppEdition forIdentifier(std::string_view identifier);
    static std::string applicationIdentifier();
    static std::string_view defaultsPrefix(AppEdition e);  // "PallixMardell." / "PallixQel."
    static std::string_view folderName(AppEdition e);      // "珀溪岚辰" / "珀溪qel"
};

} // namespace pallix
