// The source revision for --revision: the commit a git work tree has checked
// out, and whether its tracked files differ from it, read by running git.
#pragma once

#include <chrono>
#include <string>
#include <string_view>

#include "platform.h"

namespace ventrim {

// The commit a git work tree has checked out, for --revision; kept apart
// from BuildStamp, which a run without the option fills alone.
struct SourceRevision {
    std::string commit{};  // its full id in hex; empty when it could not be read
    int modified = -1;     // 1 when tracked files differ from it, 0 when not, -1 unknown
};

// How long reading a revision may take in all; git is killed then.
constexpr std::chrono::seconds kRevisionTimeLimit{10};

// Reads the revision of the work tree that holds dir (dirText as it goes into
// messages, already one line), git run in envp, the environment main received (on Windows the
// process's own). When it cannot, returns the unknown revision ("" and -1)
// and sets cause to one line saying why.
SourceRevision readSourceRevision(const platform::FilePath& dir, const std::string& dirText, char** envp,
                                  std::string& cause);

// The pure parts, for the tests.

// Settings that keep git from running any program a configuration names,
// given the names of the filter and protocol settings git lists (gitListing's
// NUL-separated output): each filter it names is turned off, each protocol
// refused. False when a name could not be overridden exactly (one with '=').
// Lists of arguments or variables are texts of items each followed by a NUL.
bool safetySettings(const std::string& listedNames, std::string& settings);

// The arguments after `git -C DIR` that list those names, and that read the
// revision with settings.
std::string gitListing();
std::string gitStatus(const std::string& settings);

// Reads the output of gitStatus: false when it names no commit.
bool parseGitStatus(const std::string& out, SourceRevision& revision);

// Whether the runner's environment variable name goes to git: not those that
// point git at another repository or change how it runs (GIT_DIR,
// GIT_WORK_TREE, GIT_INDEX_FILE, GIT_EXTERNAL_DIFF, ...); only the runner's
// own choice of configuration files and of where a search for a repository
// stops. Nor PAGER, which gitEnvironment sets, nor SUDO_UID, an account git
// run as root would trust. Names in upper case.
bool passedToGit(std::string_view name);

// Variables git gets in any case ("NAME=value"): no prompt, no pager.
std::string gitEnvironment();

// Variables git gets where it runs as the repository's owner for a root
// runner: none of root's settings files, nor the system's.
std::string ownerEnvironment();

// One argument as a Windows program's C runtime splits its command line:
// quoted when it holds a blank, a tab or a quote, or is empty, with the
// backslashes before a quote (and before the closing quote) doubled.
template <class Char>
std::basic_string<Char> quotedArgument(const std::basic_string<Char>& text) {
    if (!text.empty() && text.find_first_of(std::basic_string<Char>{' ', '\t', '"', '\n', '\v'}) == text.npos) {
        return text;
    }
    std::basic_string<Char> out(1, '"');
    std::size_t backslashes = 0;
    for (const Char c : text) {
        if (c == '\\') {
            ++backslashes;
        } else {
            out.append(c == '"' ? backslashes + 1 : 0, '\\');
            backslashes = 0;
        }
        out += c;
    }
    out.append(backslashes, '\\');
    out += '"';
    return out;
}

}  // namespace ventrim
