// What a command line asks the tool to do, read in one place.
#pragma once

#include <string>
#include <string_view>

namespace ventrim {

// The option that names the folder whose revision the header carries.
constexpr std::string_view kRevisionOption = "--revision=";

struct Request {
    enum class Action { stamp, help, version, usageError };
    Action action = Action::usageError;
    // For a usage error: what was wrong and the right form, one line.
    std::string problem{};
    int header = 0;    // argv index of the header path
    int revision = 0;  // argv index of --revision=DIR, or 0 without it
};

// Reads ventrim's command line: [--revision=DIR] headerFileName, or --help,
// -h (on Windows also /?) or --version alone. Every other argument that
// starts with '-' is a usage error, so that a mistyped option never becomes
// a file; a header so named is written as ./-name. On Windows only an
// argument as the system received it can be an option: a look-alike of one
// is a path.
Request parseCommandLine(int argc, char** argv);

// The value of variable name in envp, or null. A scan rather than getenv: on
// Windows envp is the environment as the system holds it, as UTF-8, whose
// variable names ignore case.
const char* environmentValue(char** envp, std::string_view name);

}  // namespace ventrim
