// The command line read once: the action it asks for, or what is wrong with it.
#include "command_line.h"

#include <algorithm>
#include <string_view>

#include "platform.h"

namespace ventrim {

namespace {

constexpr char kForm[] = "; usage: ventrim [--revision=DIR] <headerFileName>";

// The usage error for option arg, which may not stand where it does.
Request refused(std::string problem, std::string_view arg) {
    if (arg.substr(0, 1) == "-") problem.append("; a header so named is written as ./").append(arg);
    Request asked;
    asked.problem = std::move(problem);
    return asked;
}

}  // namespace

Request parseCommandLine(int argc, char** argv) {
    Request asked;
    int paths = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        const bool revision = arg.substr(0, kRevisionOption.size()) == kRevisionOption;
        const bool option = (arg.substr(0, 1) == "-" || arg == platform::kHelpSwitch) &&
                            platform::plainArgument(argc, argv, i, revision ? kRevisionOption.size() : arg.size());
        if (!option) {
            ++paths;
            asked.header = i;
        } else if (arg == "--help" || arg == "-h" || arg == platform::kHelpSwitch || arg == "--version") {
            if (argc != 2) return refused(std::string(arg) + " goes alone, as in ventrim " + std::string(arg), arg);
            asked.action = arg == "--version" ? Request::Action::version : Request::Action::help;
            return asked;
        } else if (revision && arg.size() > kRevisionOption.size()) {
            if (i != 1) return refused("--revision=DIR comes first, before the header path", {});
            asked.revision = i;
        } else if (arg == "--revision" || revision) {
            return refused("--revision needs a folder: --revision=DIR, before the header path", {});
        } else {
            return refused("unknown option " + std::string(arg), arg);
        }
    }
    if (paths == 1) {
        asked.action = Request::Action::stamp;
    } else if (paths == 0) {
        asked.problem = std::string(asked.revision != 0 ? "no header path after --revision=DIR" : "no header path given") + kForm;
    } else {
        asked.problem = std::to_string(paths) + " header paths given, where one is written" + kForm;
    }
    return asked;
}

const char* environmentValue(char** envp, std::string_view name) {
    const auto same = [](char a, char b) {
        const auto upper = [](char c) { return platform::kVariableNamesIgnoreCase && c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c; };
        return upper(a) == upper(b);
    };
    for (; envp != nullptr && *envp != nullptr; ++envp) {
        const std::string_view text = *envp;
        if (text.size() > name.size() && text[name.size()] == '=' &&
            std::equal(name.begin(), name.end(), text.begin(), same)) {
            return *envp + name.size() + 1;
        }
    }
    return nullptr;
}

}  // namespace ventrim
