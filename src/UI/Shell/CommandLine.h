#pragma once
// CommandLine: the options `pallix` takes, read before anything that needs a
// display is made, so that `--help` and a mistyped option are answered
// without one. Qt's own options (-platform, -style, ...) pass through to Qt.
// Plain functions of their arguments; callable from any thread.

#include <string>

namespace pallix::CommandLine {

enum class Action {
    Run,       // start, or hand over to the running 珀溪
    ShowHelp,  // print usage() and exit 0
    Refuse,    // an option not known: name it and exit 2
    Count
};

struct Parsed {
    Action action = Action::Run;
    bool toggle = false;  // --toggle: show or hide the running window
    std::string unknown;  // the first argument not known, when Refuse
};

Parsed parse(int argc, const char* const* argv);

// What --help prints.
std::string usage();

} // namespace pallix::CommandLine
