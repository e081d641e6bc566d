// Who runs git for the revision on Linux and other POSIX systems, and with
// what: a runner other than root runs it itself, in its own environment;
// root runs it as the account that owns the repository, so that whatever git
// starts has no right its owner lacks.
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "command_line.h"
#include "git_run.h"
#include "io_posix.h"
#include "revision.h"

namespace ventrim::platform {
namespace {

// Where execvp would look for git, as a list: each folder of PATH (an empty
// one is the current folder), or the C library's default without PATH.
std::string gitCandidates(char** envp) {
    const char* path = environmentValue(envp, "PATH");
    const std::string_view folders = path != nullptr ? path : "/bin:/usr/bin";
    std::string out;
    for (std::size_t at = 0, end; at <= folders.size(); at = end + 1) {
        end = std::min(folders.find(':', at), folders.size());
        const std::string_view folder = folders.substr(at, end - at);
        (out += folder.empty() ? std::string_view(".") : folder) += std::string_view("/git\0", 5);
    }
    return out;
}

// The folder a gitfile ("gitdir: PATH") in folder names, or empty.
std::string gitfileTarget(const std::string& folder, const std::string& gitfile) {
    std::string text;
    const int fd = open(gitfile.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) return std::string();
    struct stat st {};
    const bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size < PATH_MAX + 16 && readToEnd(fd, text);
    close(fd);
    if (!ok || text.compare(0, 8, "gitdir: ") != 0) return std::string();
    text = text.substr(8, text.find_first_of("\r\n") - 8);
    return text.empty() || text[0] == '/' ? text : folder + '/' + text;
}

// The account that owns the repository git would find from dir, whose
// folder's real path is set in real: the owner of the first folder upwards
// that holds a `.git` (and of that `.git`, and of the folder a `.git` file
// names), or of a git folder itself (HEAD in it). -1 where none is found.
// This search need not be git's own: git, run as the account found and
// trusting no other owner, refuses any repository that account does not own.
std::string repositoryOwner(const std::string& dir, std::string& real, long& owner) {
    owner = -1;
    char* const resolved = realpath(dir.c_str(), nullptr);
    if (resolved == nullptr) return std::string();  // git says why it cannot go there
    real = resolved;
    std::free(resolved);
    for (std::string at = real;;) {
        struct stat folder {}, entry {}, target {};
        const std::string base = at == "/" ? "" : at;
        if (lstat((base + "/.git").c_str(), &entry) == 0) {
            if (stat(at.c_str(), &folder) != 0) return "its work tree cannot be examined: " + std::string(std::strerror(errno));
            target = entry;
            if (S_ISREG(entry.st_mode) || S_ISLNK(entry.st_mode)) {
                const std::string gitdir = S_ISREG(entry.st_mode) ? gitfileTarget(at, base + "/.git") : base + "/.git";
                if (gitdir.empty() || stat(gitdir.c_str(), &target) != 0) return "its .git names no folder that can be examined";
            }
            if (folder.st_uid != entry.st_uid || folder.st_uid != target.st_uid) {
                return "its work tree and its git folder belong to different accounts";
            }
            owner = static_cast<long>(folder.st_uid);
            return std::string();
        }
        if (lstat((base + "/HEAD").c_str(), &entry) == 0 && stat(at.c_str(), &folder) == 0) {
            owner = static_cast<long>(folder.st_uid);
            return std::string();
        }
        if (at == "/") return std::string();
        at.erase(std::max<std::size_t>(at.rfind('/'), 1));
    }
}

// The account uid (its name, group and groups) into setup; false when the
// account database has no entry for it.
bool takeAccount(uid_t uid, GitSetup& setup) {
    std::string buffer(1024, '\0');
    passwd entry{};
    passwd* found = nullptr;
    int rc;
    while ((rc = getpwuid_r(uid, &entry, &buffer[0], buffer.size(), &found)) == ERANGE && buffer.size() < (1u << 24)) {
        buffer.resize(buffer.size() * 2);
    }
    if (rc != 0 || found == nullptr || found->pw_name == nullptr) return false;
    std::vector<gid_t> groups(16);
    int count = static_cast<int>(groups.size());
    while (getgrouplist(found->pw_name, found->pw_gid, groups.data(), &count) < 0) {
        if (count <= static_cast<int>(groups.size()) || count > 65536) return false;
        groups.resize(static_cast<std::size_t>(count));
    }
    setup.uid = static_cast<long>(uid);
    setup.gid = static_cast<long>(found->pw_gid);
    setup.groups.assign(groups.begin(), groups.begin() + count);
    setup.account = found->pw_name;
    return true;
}

}  // namespace

std::string setUpGit(const FilePath& dir, char** envp, GitSetup& setup) {
    setup.dir = dir;
    setup.candidates = gitCandidates(envp);
    setup.environment = gitEnvironment();
    long owner = -1;
    if (geteuid() == 0) {
        // Root trusts no repository of another owner, whatever its git
        // settings say (an empty safe.directory empties the list): git either
        // runs as the repository's owner, found here, or refuses.
        constexpr char kTrustNone[] = "-c\0safe.directory=";
        setup.settings.assign(kTrustNone, sizeof kTrustNone);
        std::string real;
        if (std::string why = repositoryOwner(dir, real, owner); !why.empty()) return why;
        if (owner > 0) {
            if (!takeAccount(static_cast<uid_t>(owner), setup)) {
                return "its owner, user id " + std::to_string(owner) + ", has no account git could run as";
            }
            setup.dir = real;  // resolved once, and the owner may not enter the runner's folder
            setup.environment += ownerEnvironment();
            if (const char* path = environmentValue(envp, "PATH")) (setup.environment += "PATH=") += std::string(path) + '\0';
            return std::string();
        }
    }
    for (char** entry = envp; entry != nullptr && *entry != nullptr; ++entry) {
        const std::string_view text = *entry;
        if (passedToGit(text.substr(0, text.find('=')))) (setup.environment += text) += '\0';
    }
    return std::string();
}

}  // namespace ventrim::platform
