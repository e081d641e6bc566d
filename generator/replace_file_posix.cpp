// How the header replaces a file on Linux: which file that is, and whether a
// plain open would reach it.
//
// The path is resolved to a folder descriptor and a name in it, following
// links as the kernel does, and the file there is opened and checked through
// them. write_file_posix.cpp then writes the new contents to a temporary file
// beside it, which takes the owner, mode and access ACL of the very file
// checked (read from its descriptor) and then its name. Where the
// file at the name turns out not to be the one checked (another run replaced
// it, or someone put another file there), nothing has been written and the
// whole replacement starts over; a check that cannot be made fails the run.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cerrno>
#include <cstring>
#include <string_view>

#include "platform.h"
#include "io_posix.h"
#include "write_file_posix.h"

namespace ventrim::platform {

namespace {

// Reads the text of the link name in folder, whatever its length: /proc links
// report a size of 64. No link's text reaches PATH_MAX: one that seems to, or a
// readlink that fails, fails the open.
bool readLink(int folder, const std::string& name, std::string& text) {
    for (std::size_t size = 256; size <= PATH_MAX; size *= 2) {
        text.resize(size);
        const ssize_t n = readlinkat(folder, name.c_str(), &text[0], size);
        if (n < 0) return false;
        if (static_cast<std::size_t>(n) < size) {
            text.resize(static_cast<std::size_t>(n));
            return true;
        }
    }
    errno = ENAMETOOLONG;
    return false;
}

// Opens the folder of path (relative to base) into folder and names its last
// part in name, which must be a name an open could create.
bool enter(int base, const std::string& path, Fd& folder, std::string& name) {
    const auto slash = path.rfind('/');
    name = slash == std::string::npos ? path : path.substr(slash + 1);
    const std::string folderPath = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    Fd next(openat(base, folderPath.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (next.fd < 0) return false;
    std::swap(folder.fd, next.fd);
    const std::string_view last = name;
    if (last.empty() || last == "." || last == "..") {
        errno = EISDIR;
        return false;
    }
    return true;
}

// Follows links from path as open() does, up to the kernel's 40, each text
// taken relative to the folder of its link (so no joined text can pass
// PATH_MAX), to the folder and name of what a plain open would write: st is
// its status, unless exists is false (a new file). A link is kept: the file
// it leads to is replaced.
bool resolve(const std::string& path, Fd& folder, std::string& name, struct stat& st, bool& exists) {
    if (path.empty()) {
        errno = ENOENT;  // as open("") fails
        return false;
    }
    if (!enter(AT_FDCWD, path, folder, name)) return false;
    for (int links = 0;; ++links) {
        exists = fstatat(folder.fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
        if (!exists || !S_ISLNK(st.st_mode)) return exists || errno == ENOENT;
        std::string text;
        if (links == 40) {
            errno = ELOOP;
            return false;
        }
        if (!readLink(folder.fd, name, text) || !enter(folder.fd, text, folder, name)) return false;
    }
}

// Whether the protection the kernel gives sticky folders refuses a plain
// create-open of file there, as protected_regular and protected_fifos do at
// their strictest level (2), whatever the machine's level: in a sticky folder
// that others may write, a file that belongs to neither the runner nor the
// folder's owner, which its owner could change before the build reads it.
bool guardedBySticky(int folder, const struct stat& file) {
    struct stat dir {};
    if (file.st_uid == geteuid()) return false;
    return fstatat(folder, "", &dir, AT_EMPTY_PATH) != 0 ||
           ((dir.st_mode & S_ISVTX) != 0 && (dir.st_mode & (S_IWGRP | S_IWOTH)) != 0 && dir.st_uid != file.st_uid);
}

// The cause of a failed outcome: the tool's own rule, or else errno as the
// failing step left it.
std::string causeOf(Outcome outcome) {
    switch (outcome) {
    case Outcome::changed: return "refused: the file kept changing while it was replaced";
    case Outcome::sticky:
        return "refused: in a sticky folder others may write, the file belongs to neither you nor the folder's owner";
    case Outcome::locked: return "refused: another process kept the file locked for 2 seconds";
    case Outcome::noNewFile: return "refused: its folder takes no new file, which replacing the file needs";
    default: return std::strerror(errno);
    }
}

// Where the kernel's way leads elsewhere than the text of the links (a /proc
// link to a deleted file or to a pipe): what a plain open reaches. It is
// written only where no folder's rules apply to it, as a deleted file, the
// runner's own pipe or a device; a file that has a name, or another's pipe
// (as one put there since the name was looked at), is written only through
// its folder, where the checks can be made.
Outcome writeReached(const std::string& path, const std::string& contents) {
    Fd fd(openat(AT_FDCWD, path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC));
    struct stat st {};
    if (fd.fd < 0 || fstatat(fd.fd, "", &st, AT_EMPTY_PATH) != 0) return Outcome::openFailed;
    const bool named = S_ISREG(st.st_mode) ? st.st_nlink > 0 : S_ISFIFO(st.st_mode) && st.st_uid != geteuid();
    return named ? Outcome::changed : overwrite(fd, contents);
}

// One try at the replacement, from the path to the written header; changed
// when what was checked is not what stands there.
Outcome replaceOnce(const std::string& path, const std::string& contents) {
    Fd folder(-1);
    std::string name;
    struct stat st {}, reached {};
    bool exists = false;
    if (!resolve(path, folder, name, st, exists)) return Outcome::openFailed;
    const bool reachable = fstatat(AT_FDCWD, path.c_str(), &reached, 0) == 0;
    if (!reachable && errno != ENOENT) return Outcome::openFailed;  // as the kernel, which counts nested links too
    if (reachable && !(exists && sameFile(reached, st))) return writeReached(path, contents);
    if (exists != reachable) return Outcome::changed;
    Fd old(-1);
    if (!exists) return writeBeside(folder.fd, name, old, st, contents);
    if (S_ISDIR(st.st_mode)) {
        errno = EISDIR;
        return Outcome::openFailed;
    }
    // A pipe is checked before it is opened, as the open waits for its
    // reader; a regular file is opened without waiting (for a lease, or a
    // pipe put in its place).
    const bool fifo = S_ISFIFO(st.st_mode);
    if (fifo && guardedBySticky(folder.fd, st)) return Outcome::sticky;
    old.fd = openat(folder.fd, name.c_str(),
                    O_WRONLY | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC | (S_ISREG(st.st_mode) ? O_NONBLOCK : 0));
    if (old.fd < 0) return errno == ENOENT || errno == ELOOP ? Outcome::changed : Outcome::openFailed;
    struct stat opened {};
    if (fstatat(old.fd, "", &opened, AT_EMPTY_PATH) != 0) return Outcome::openFailed;
    if (!sameFile(opened, st)) return Outcome::changed;
    if (guardedBySticky(folder.fd, opened)) return Outcome::sticky;
    if (!S_ISREG(opened.st_mode)) return overwrite(old, contents);  // a device or pipe gets the stream
    return writeBeside(folder.fd, name, old, opened, contents);
}

}  // namespace

bool fileHolds(const std::string& path, const std::string& contents) {
    Fd fd(openat(AT_FDCWD, path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    struct stat st {};
    if (fd.fd < 0 || fstatat(fd.fd, "", &st, AT_EMPTY_PATH) != 0 || !S_ISREG(st.st_mode) ||
        st.st_size != static_cast<off_t>(contents.size())) {
        return false;
    }
    std::string held;
    held.reserve(contents.size());
    return readToEnd(fd.fd, held) && held == contents;
}

WriteResult replaceFile(const std::string& path, const std::string& contents, std::string& cause) {
    // Overlapping runs on one header start over a few times at most each:
    // one of them always gets its header in place.
    Outcome outcome = Outcome::changed;
    for (int attempt = 0; attempt < 16 && outcome == Outcome::changed; ++attempt) outcome = replaceOnce(path, contents);
    if (outcome == Outcome::ok) return WriteResult::ok;
    cause = causeOf(outcome);
    return outcome == Outcome::writeFailed || outcome == Outcome::locked || outcome == Outcome::noNewFile
               ? WriteResult::writeFailed
               : WriteResult::openFailed;
}

}  // namespace ventrim::platform
