#include "UI/Shell/CommandLine.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace pallix::CommandLine {

namespace {

struct QtOption {
    std::string_view name;
    bool takesValue;
};

// The options QApplication takes itself, written with one dash or two.
constexpr std::array<QtOption, 20> kQtOptions{{
    {"platform", true},   {"platformpluginpath", true}, {"platformtheme", true}, {"plugin", true},
    {"qwindowgeometry", true}, {"qwindowicon", true},   {"qwindowtitle", true},  {"session", true},
    {"style", true},      {"stylesheet", true},         {"display", true},       {"geometry", true},
    {"name", true},       {"title", true},              {"visual", true},        {"reverse", false},
    {"widgetcount", false}, {"sync", false},            {"nograb", false},       {"dograb", false},
}};

const QtOption* qtOption(std::string_view argument)
{
    if (argument.size() < 2 || argument[0] != '-')
        return nullptr;
    argument.remove_prefix(argument[1] == '-' ? 2 : 1);
    const std::string_view name = argument.substr(0, argument.find('='));
    const auto it = std::find_if(kQtOptions.begin(), kQtOptions.end(),
                                 [&](const QtOption& option) { return option.name == name; });
    return it == kQtOptions.end() ? nullptr : &*it;
}

} // namespace

Parsed parse(int argc, const char* const* argv)
{
    Parsed parsed;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "--help" || argument == "-h")
            return {Action::ShowHelp, false, {}};
        if (argument == "--toggle") {
            parsed.toggle = true;
        } else if (const QtOption* option = qtOption(argument)) {
            if (option->takesValue && argument.find('=') == std::string_view::npos)
                ++i;
        } else if (parsed.action == Action::Run) {
            parsed.action = Action::Refuse;
            parsed.unknown = argument;
        }
    }
    return parsed;
}

std::string usage()
{
    return "用法：pallix [选项]\n"
           "珀溪：即时搜索本机文件名。\n"
           "\n"
           "选项：\n"
           "  --toggle     显示或隐藏正在运行的珀溪窗口；没有运行时启动珀溪\n"
           "  -h, --help   显示本帮助并退出\n"
           "\n"
           "另可使用 Qt 的通用选项，如 -platform、-style。\n";
}

} // namespace pallix::CommandLine
