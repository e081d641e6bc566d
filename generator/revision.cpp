#include "revision.h"

#include <cstring>

#include "git_run.h"
#include "stamp_header.h"

namespace ventrim {

namespace {

// Settings for every git run. A repository's own configuration may name
// programs that git would start: an fsmonitor (run by every status), hooks, an
// external diff, a pager, credential helpers, and transports for the lazy
// fetch of a partial clone. These turn them off; the command line's settings
// come before any configuration file's. The index is not written back
// (--no-optional-locks), so a run changes nothing in the repository.
constexpr char kSafeRun[] =
    "--no-optional-locks -c core.fsmonitor=false -c core.hooksPath=/dev/null -c diff.external= -c core.pager=cat "
    "-c credential.helper= -c protocol.allow=never";

bool isHex(const std::string& text) {
    for (const char c : text) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    }
    return true;
}

// The first line of git's message, without its "fatal: ".
std::string firstLine(const std::string& message) {
    std::string line = message.substr(0, message.find('\n'));
    if (line.compare(0, 7, "fatal: ") == 0) line.erase(0, 7);
    if (line.size() > 300) line.resize(300);
    return line.empty() ? "git failed and said nothing" : printable(line);
}

// Why run did not give what was asked, or empty when it did. (A listing
// always finds the settings given on its own command line.)
std::string failure(const platform::GitRun& run) {
    using Outcome = platform::GitRun::Outcome;
    if (run.outcome == Outcome::notStarted) return run.cause;
    if (run.outcome == Outcome::timedOut) {
        return "git did not finish within " + std::to_string(kRevisionTimeLimit.count()) + " seconds";
    }
    if (run.outcome == Outcome::overflowed) {
        return "git wrote more than " + std::to_string(platform::kMaxGitOutput >> 20) + " MiB";
    }
    return run.status == 0 ? std::string() : firstLine(run.err);
}

}  // namespace

// Lists of arguments and variables are texts of NUL-terminated items, not
// vectors or tables of pointers: those would bring in code and relocations
// that would cost every run of the tool, also the runs without --revision.
void appendItem(std::string& list, const std::string& item) { (list += item) += '\0'; }

// Appends the blank-separated words as items.
void appendWords(std::string& list, std::string_view words) {
    for (const char c : words) list += c == ' ' ? '\0' : c;
    list += '\0';
}

std::string gitEnvironment() {
    constexpr char kVariables[] = "GIT_TERMINAL_PROMPT=0\0GIT_PAGER=cat\0PAGER=cat";
    return std::string(kVariables, sizeof kVariables);
}

std::string ownerEnvironment() {
    constexpr char kVariables[] = "GIT_CONFIG_NOSYSTEM=1\0GIT_CONFIG_GLOBAL=/dev/null";
    return std::string(kVariables, sizeof kVariables);
}

bool passedToGit(std::string_view name) {
    // (SUDO_UID would make git, run as root, trust that user's repositories.)
    if (name.compare(0, 4, "GIT_") != 0) return name != "PAGER" && name != "SUDO_UID";
    constexpr std::string_view kept = " GIT_CONFIG_GLOBAL GIT_CONFIG_SYSTEM GIT_CONFIG_NOSYSTEM GIT_CEILING_DIRECTORIES "
                                      "GIT_DISCOVERY_ACROSS_FILESYSTEM ";
    const std::size_t at = kept.find(name);
    return !name.empty() && at != kept.npos && kept[at - 1] == ' ' && kept[at + name.size()] == ' ';
}

bool safetySettings(const std::string& listedNames, std::string& settings) {
    settings.clear();
    appendWords(settings, kSafeRun);
    for (std::size_t at = 0, end; at < listedNames.size(); at = end + 1) {
        end = listedNames.find('\0', at);
        if (end == listedNames.npos) end = listedNames.size();
        // section.subsection.key: the subsection may hold dots, the other two not.
        const std::string name = listedNames.substr(at, end - at);
        const std::size_t dot = name.find('.'), lastDot = name.rfind('.');
        if (dot == lastDot) continue;  // protocol.allow, set above
        const std::string driver = name.substr(0, lastDot + 1);
        // `-c` splits its text at the first '=': another name would be set.
        if (name.find('=') != name.npos) return false;
        const bool filter = name.compare(0, dot, "filter") == 0;
        if (settings.find('\0' + driver + (filter ? "clean=" : "allow=never") + '\0') != settings.npos) continue;
        if (filter) {
            // (process, set even to nothing, also keeps git from clean and smudge.)
            for (const char* key = "clean=\0smudge=\0process=\0required=false\0"; *key != '\0'; key += std::strlen(key) + 1) {
                appendItem(settings, "-c");
                appendItem(settings, driver + key);
            }
        } else {
            appendItem(settings, "-c");
            appendItem(settings, driver + "allow=never");
        }
    }
    return true;
}

std::string gitListing() {
    std::string args;
    appendWords(args, kSafeRun);
    appendWords(args, "config -z --name-only --get-regexp ^(filter|protocol)\\.");
    return args;
}

std::string gitStatus(const std::string& settings) {
    std::string args = settings;
    // Untracked files do not count; a submodule counts when another commit is
    // checked out in it than the one recorded, which git reads without a run
    // of its own in the submodule. No rename search: it would read contents.
    appendWords(args, "status --porcelain=v2 --branch -z --untracked-files=no --ignore-submodules=dirty --no-renames");
    return args;
}

bool parseGitStatus(const std::string& out, SourceRevision& revision) {
    revision = SourceRevision();
    bool modified = false;
    for (std::size_t at = 0, end; at < out.size(); at = end + 1) {
        end = out.find('\0', at);
        if (end == out.npos) end = out.size();
        const std::string entry = out.substr(at, end - at);
        if (entry.compare(0, 13, "# branch.oid ") == 0) {
            revision.commit = entry.substr(13);
        } else if (!entry.empty() && entry[0] != '#') {
            modified = true;  // the headers come first: any other entry is a change
            break;
        }
    }
    if ((revision.commit.size() != 40 && revision.commit.size() != 64) || !isHex(revision.commit)) {
        revision.commit.clear();
        return false;
    }
    revision.modified = modified ? 1 : 0;
    return true;
}

SourceRevision readSourceRevision(const platform::FilePath& dir, const std::string& dirText, char** envp,
                                  std::string& cause) {
    const auto deadline = std::chrono::steady_clock::now() + kRevisionTimeLimit;
    SourceRevision revision;
    platform::GitSetup setup;
    std::string why, settings;
    if (dir.empty()) {
        why = "the folder's name cannot be read";
    } else if (why = platform::setUpGit(dir, envp, setup); why.empty()) {
        const platform::GitRun listing = platform::runGit(setup, gitListing(), deadline);
        why = failure(listing);
        if (why.empty() && !safetySettings(listing.out, settings)) {
            why = "a filter or protocol setting's name holds '=', which cannot be overridden";
        }
        if (why.empty()) {
            const platform::GitRun status = platform::runGit(setup, gitStatus(settings), deadline);
            why = failure(status);
            if (why.empty() && !parseGitStatus(status.out, revision)) why = "no commit is checked out";
            // The status ran with the settings made for the first listing: a
            // filter or protocol named since might have been on. Listed again,
            // the names must be the same, or nothing read counts.
            if (why.empty()) {
                const platform::GitRun again = platform::runGit(setup, gitListing(), deadline);
                why = failure(again);
                if (why.empty() && again.out != listing.out) {
                    why = "its filter or protocol settings changed while it was read";
                }
            }
            if (!why.empty()) revision = SourceRevision();
        }
    }
    if (!why.empty()) cause = "revision of " + dirText + " not read: " + why;
    return revision;
}

}  // namespace ventrim
