#pragma once
// The system's failure texts as the user reads them: what went wrong in
// Chinese, then the system's own words in parentheses, so that the message
// can still be looked up ("文件名过长（File name too long）"). Any thread.

#include <string>

namespace pallix::systemtext {

// For an errno value; an unknown one is named by its number.
std::string describeErrno(int error);

} // namespace pallix::systemtext
