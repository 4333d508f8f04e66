#pragma once
// HelperPrograms: where the application's helper executables are. They are
// not commands of their own: `make install` puts them in
// <prefix>/libexec/pallix, the build beside the application. Any thread.

#include <QString>

namespace pallix::helperprograms {

// The helper `fileName`: the path in `environmentVariable` when set, else
// beside the running executable, else in <prefix>/libexec/pallix of an
// installed one, else `buildPath` (where the build put it).
QString find(const char* environmentVariable, const QString& fileName, const QString& buildPath);

} // namespace pallix::helperprograms
