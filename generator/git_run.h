// Running git for the revision: what the feature (revision.cpp) asks of the
// platform's runner (revision_posix.cpp with git_account_posix.cpp, or
// revision_win32.cpp).
#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

#include "platform.h"

namespace ventrim::platform {

// The most of git's standard output, and of its standard error, that is
// read: git is stopped past it and the run fails. Far above a status with
// hundreds of thousands of changes; no output is ever read in part.
constexpr std::size_t kMaxGitOutput = std::size_t{64} << 20;

// How git is started for one revision, decided once for all its runs.
struct GitSetup {
    FilePath dir{};                  // what `git -C` gets
    std::string settings{};          // arguments before all others (items, each NUL-ended)
    std::string environment{};       // git's whole environment ("NAME=value" items)
    std::string candidates{};        // the paths tried for git, in turn (POSIX)
    long uid = -1, gid = -1;         // the account git runs as; -1: the runner's own
    std::vector<unsigned> groups{};  // and its groups
    std::string account{};           // its name, for messages
};

// Decides how git runs for dir, with envp, the environment main received (on
// Windows the process's own). Empty, or why git is not run at all.
std::string setUpGit(const FilePath& dir, char** envp, GitSetup& setup);

struct GitRun {
    enum class Outcome { exited, notStarted, timedOut, overflowed } outcome = Outcome::notStarted;
    int status = -1;             // the exit status, when it exited
    std::string out{}, err{};    // all it wrote to standard output and error
    std::string cause{};         // why it did not start
};

// Runs `git SETTINGS -C DIR args...` as setup says, with nothing on standard
// input; ended, with every process of its group, when it is done, at
// deadline, when its output passes kMaxGitOutput, or when the tool is
// stopped by SIGTERM, SIGINT or SIGHUP meanwhile.
GitRun runGit(const GitSetup& setup, const std::string& args, std::chrono::steady_clock::time_point deadline);

}  // namespace ventrim::platform
