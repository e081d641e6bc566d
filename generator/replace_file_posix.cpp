// How the header replaces a file on Linux and other POSIX systems.
//
// The path is resolved once, to a folder descriptor and a name in it, and
// every later step acts on those. The new contents go to a private temporary
// file beside the final target, which then takes the mode and owner of the
// very file it replaces (read from a descriptor on that file) and takes its
// name.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <string_view>

#include "platform.h"
#include "io_posix.h"

namespace ventrim::platform {

namespace {

// A file descriptor that closes itself.
struct Fd {
    int fd = -1;
    explicit Fd(int value) : fd(value) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() {
        if (fd >= 0) close(fd);
    }
    bool closeNow() {  // reports whether the close worked
        const int was = fd;
        fd = -1;
        return close(was) == 0;
    }
};

// The signals that end a build step (Ctrl-C, make's and CI's kill). While the
// temporary file exists they remove it before ending the process as they
// would have; while a file is written in place they wait until it is whole.
constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

int gTempFolder = -1;
char gTempName[256];
volatile std::sig_atomic_t gTempExists = 0;

extern "C" void removeTempAndEnd(int signal) {
    if (gTempExists) unlinkat(gTempFolder, gTempName, 0);
    // SA_RESETHAND has restored the default action, which this now takes.
    raise(signal);
}

// Holds every signal that can be held, the ending ones among them, for a step
// that must not be cut in two.
class SignalsHeld {
public:
    SignalsHeld() : saved_() {
        sigset_t all;
        sigfillset(&all);
        sigprocmask(SIG_BLOCK, &all, &saved_);
    }
    ~SignalsHeld() { sigprocmask(SIG_SETMASK, &saved_, nullptr); }
    SignalsHeld(const SignalsHeld&) = delete;
    SignalsHeld& operator=(const SignalsHeld&) = delete;

private:
    sigset_t saved_;
};

void removeTempOnEndingSignals() {
    struct sigaction action {};
    action.sa_handler = removeTempAndEnd;
    // The C library defines the flag as an unsigned constant.
    action.sa_flags = static_cast<int>(SA_RESETHAND);
    for (const int s : kEndingSignals) {
        struct sigaction old {};
        // A signal the caller ignores (nohup) stays ignored: called with the
        // signals held, so it is never taken meanwhile.
        if (sigaction(s, &action, &old) == 0 && old.sa_handler == SIG_IGN) sigaction(s, &old, nullptr);
    }
}

// Reads a link's target whatever its length: /proc links report a size of 64.
bool readLink(const std::string& path, std::string& target) {
    std::string buffer(256, '\0');
    for (;;) {
        const ssize_t n = readlink(path.c_str(), &buffer[0], buffer.size());
        if (n < 0) return false;
        if (static_cast<std::size_t>(n) < buffer.size()) {
            target.assign(buffer, 0, static_cast<std::size_t>(n));
            return !target.empty();
        }
        buffer.resize(buffer.size() * 2);
    }
}

// Follows symbolic links as open() would, so that a link to the header is kept
// and the file it points to is replaced. Works for dangling links too.
bool resolveLinks(std::string& path) {
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st {};
        if (fstatat(AT_FDCWD, path.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISLNK(st.st_mode)) return true;
        std::string target;
        if (!readLink(path, target)) return false;
        const auto slash = path.rfind('/');
        path = target[0] == '/' || slash == std::string::npos ? target : path.substr(0, slash + 1) + target;
    }
    return false;  // a loop, as ELOOP
}

// Writes where the file stands and closes it: a device or pipe gets the stream,
// a regular file no new file can replace is rewritten so that its old contents
// survive a failure: the part beyond the old end is written first and cut off
// again if that fails; only then are the existing bytes overwritten.
WriteResult overwrite(Fd& fd, const std::string& contents) {
    struct stat st {};
    bool ok = fstat(fd.fd, &st) == 0;
    if (ok && !S_ISREG(st.st_mode)) {
        ok = writeAll(fd.fd, contents.data(), contents.size());
    } else if (ok) {
        const std::size_t oldSize = static_cast<std::size_t>(st.st_size);
        const std::size_t kept = contents.size() < oldSize ? contents.size() : oldSize;
        const SignalsHeld held;
        ok = writeAll(fd.fd, contents.data() + kept, contents.size() - kept, static_cast<off_t>(kept));
        if (!ok && ftruncate(fd.fd, st.st_size) != 0) { /* nothing more can be done */ }
        ok = ok && writeAll(fd.fd, contents.data(), kept, 0) &&
             ftruncate(fd.fd, static_cast<off_t>(contents.size())) == 0;
    }
    return fd.closeNow() && ok ? WriteResult::ok : WriteResult::writeFailed;
}

// What a plain open of path reaches now, rewritten in place.
WriteResult overwritePath(const std::string& path, const std::string& contents) {
    Fd fd(openat(AT_FDCWD, path.c_str(), O_WRONLY | O_CLOEXEC));
    return fd.fd < 0 ? WriteResult::openFailed : overwrite(fd, contents);
}

// Errors with which a folder refuses a new entry, or a rename, that a plain
// open of an existing file would not meet: no write permission on the folder,
// a sticky folder, a file mounted on its own.
bool folderRefuses(int error) {
    return error == EACCES || error == EPERM || error == EROFS || error == EXDEV || error == EBUSY;
}

// Creates the temporary file beside the target, readable by no one else, for
// the ending signals to remove. Its name is the target's (shortened so it
// always fits), dotted and suffixed.
int createTemp(int folder, const std::string& name) {
    const SignalsHeld held;
    removeTempOnEndingSignals();
    for (int attempt = 0; attempt < 16; ++attempt) {
        const auto salt = createUuid();
        std::string temp = "." + name.substr(0, 200) + ".";
        for (std::size_t i = 12; i < 16; ++i) {
            temp += "0123456789abcdef"[salt[i] >> 4];
            temp += "0123456789abcdef"[salt[i] & 0xF];
        }
        temp += ".tmp";
        const int fd = openat(folder, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd >= 0) {
            temp.copy(gTempName, sizeof gTempName - 1);
            gTempName[temp.size()] = '\0';
            gTempFolder = folder;
            gTempExists = 1;
        }
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
}

void removeTemp() {
    const SignalsHeld held;
    gTempExists = 0;
    unlinkat(gTempFolder, gTempName, 0);
}

}  // namespace

bool fileHolds(const std::string& path, const std::string& contents) {
    Fd fd(openat(AT_FDCWD, path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    struct stat st {};
    if (fd.fd < 0 || fstat(fd.fd, &st) != 0 || !S_ISREG(st.st_mode) ||
        st.st_size != static_cast<off_t>(contents.size())) {
        return false;
    }
    std::string held;
    held.reserve(contents.size());
    return readToEnd(fd.fd, held) && held == contents;
}

WriteResult replaceFile(const std::string& path, const std::string& contents) {
    if (path.empty()) return WriteResult::openFailed;

    // What a plain open would reach: devices and pipes are written as a stream.
    struct stat reached {};
    bool exists = fstatat(AT_FDCWD, path.c_str(), &reached, AT_SYMLINK_NOFOLLOW) == 0;
    const bool link = exists && S_ISLNK(reached.st_mode);
    if (link) exists = fstatat(AT_FDCWD, path.c_str(), &reached, 0) == 0;
    if (!exists && errno != ENOENT) return WriteResult::openFailed;
    if (exists && S_ISDIR(reached.st_mode)) return WriteResult::openFailed;
    if (exists && !S_ISREG(reached.st_mode)) return overwritePath(path, contents);

    // Resolve the links once, to a folder and a name in it.
    std::string target = path;
    if (link && !resolveLinks(target)) return WriteResult::openFailed;
    const auto slash = target.rfind('/');
    const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
    const std::string folderPath = slash == std::string::npos ? "." : slash == 0 ? "/" : target.substr(0, slash);
    const std::string_view last = name;
    if (last.empty() || last == "." || last == "..") return WriteResult::openFailed;
    Fd folder(openat(AT_FDCWD, folderPath.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (folder.fd < 0) return WriteResult::openFailed;

    // The file to replace, opened for writing as a plain open would be (which
    // also proves that one would succeed) but without following a last link.
    // Its mode and owner are read from this descriptor, so no other file can
    // stand in for it. Where the text of a link does not lead where the kernel
    // goes (a /proc link to a deleted file, a link changed since it was read),
    // what a plain open reaches is written in place; the file the text names
    // is not opened.
    const auto reachedBy = [&](const struct stat& s) {
        return s.st_dev == reached.st_dev && s.st_ino == reached.st_ino;
    };
    Fd old(-1);
    struct stat st {};
    if (exists) {
        if (fstatat(folder.fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !reachedBy(st)) {
            return overwritePath(path, contents);
        }
        old.fd = openat(folder.fd, name.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (old.fd < 0) return WriteResult::openFailed;
        if (fstat(old.fd, &st) != 0 || !reachedBy(st)) return overwritePath(path, contents);
    } else if (fstatat(folder.fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
        return WriteResult::openFailed;  // only the text leads there, or it appeared meanwhile
    }

    const int created = createTemp(folder.fd, name);
    if (created < 0) {
        // A writable header in a folder that takes no new entries is rewritten
        // in place; any other failure leaves the old header as it was.
        if (!folderRefuses(errno)) return WriteResult::writeFailed;
        return exists ? overwrite(old, contents) : WriteResult::openFailed;
    }
    Fd temp(created);
    mode_t mode;
    if (exists) {
        // Keep the owner where the runner may give it (root may; others may
        // keep a group they belong to); a set-id bit only with its owner.
        struct stat made {};
        const bool ownerKept = (fstat(temp.fd, &made) == 0 && made.st_uid == st.st_uid && made.st_gid == st.st_gid) ||
                               fchown(temp.fd, st.st_uid, st.st_gid) == 0;
        if (!ownerKept && fchown(temp.fd, static_cast<uid_t>(-1), st.st_gid) != 0) { /* keeps our group */ }
        mode = st.st_mode & (ownerKept ? 07777 : 0777);
    } else {
        const mode_t mask = umask(0);
        umask(mask);
        mode = 0666 & ~mask;
    }
    const bool written = writeAll(temp.fd, contents.data(), contents.size()) && fchmod(temp.fd, mode) == 0;
    if (!temp.closeNow() || !written) {
        removeTemp();
        return WriteResult::writeFailed;
    }
    int renameError = 0;
    {
        const SignalsHeld held;
        // Exchanging the two names spares the file system the flush of the new
        // data that ext4 and others make when a file is renamed over another.
        // The old file then has the temporary name and is removed; should that
        // be something else (a folder put in its place meanwhile), it is given
        // its name back and the rename below fails as it would have.
        if (exists && renameat2(folder.fd, gTempName, folder.fd, name.c_str(), RENAME_EXCHANGE) == 0) {
            if (unlinkat(folder.fd, gTempName, 0) == 0) {
                gTempExists = 0;
                return WriteResult::ok;
            }
            renameat2(folder.fd, gTempName, folder.fd, name.c_str(), RENAME_EXCHANGE);
        }
        if (renameat(folder.fd, gTempName, folder.fd, name.c_str()) == 0) {
            gTempExists = 0;
            return WriteResult::ok;
        }
        renameError = errno;
    }
    removeTemp();
    if (exists && folderRefuses(renameError)) return overwrite(old, contents);
    return WriteResult::writeFailed;
}

}  // namespace ventrim::platform
