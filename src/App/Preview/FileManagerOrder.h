#pragma once
// The order a file manager lists names in: the user's locale, letter case
// ignored, digit runs compared by value ("img2" before "img10"). Any thread.

#include <string_view>

namespace pallix {

// Negative, zero or positive as `a` sorts before, with or after `b`.
int compareFileNames(std::string_view a, std::string_view b);

} // namespace pallix
