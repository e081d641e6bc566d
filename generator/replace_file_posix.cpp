// How the header replaces a file on Linux and other POSIX systems: which file
// that is, and whether a plain open would reach it.
//
// The path is resolved once, to a folder descriptor and a name in it, and
// every later step acts on those. write_file_posix.cpp then writes the new
// contents to a private temporary file beside the target, which takes the
// owner, mode and access ACL of the very file it replaces (read from a
// descriptor on that file) and then its name.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string_view>

#include "platform.h"
#include "io_posix.h"
#include "write_file_posix.h"

namespace ventrim::platform {

namespace {

// Why the run failed, for failureCause(): the tool's own rule, or else errno
// as the failing step left it.
const char* refusal = nullptr;
int failedWith = 0;

WriteResult refused(const char* rule) {
    refusal = rule;
    return WriteResult::openFailed;
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

// What a plain open of path reaches now, rewritten in place.
WriteResult overwritePath(const std::string& path, const std::string& contents) {
    Fd fd(openat(AT_FDCWD, path.c_str(), O_WRONLY | O_CLOEXEC));
    return fd.fd < 0 ? WriteResult::openFailed : overwrite(fd, contents);
}

// Whether the protection the kernel gives sticky folders (protected_regular,
// protected_fifos) refuses a plain create-open of file there: in a sticky
// folder that others may write, a file that belongs to neither the runner nor
// the folder's owner, which its owner could change before the build reads it.
// Refused whatever the machine's setting.
constexpr char kStickyRule[] =
    "refused: in a sticky folder others may write, the file belongs to neither you nor the folder's owner";
bool guardedBySticky(int folder, const struct stat& file) {
    struct stat dir {};
    return file.st_uid != geteuid() &&
           (fstat(folder, &dir) != 0 || ((dir.st_mode & S_ISVTX) != 0 && (dir.st_mode & (S_IWGRP | S_IWOTH)) != 0 &&
                                         dir.st_uid != file.st_uid));
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

std::string failureCause() {
    if (refusal != nullptr) return refusal;
    return failedWith != 0 ? std::strerror(failedWith) : std::string();
}

namespace {

WriteResult replaceAt(const std::string& path, const std::string& contents) {
    if (path.empty()) {
        errno = ENOENT;  // as open("") fails
        return WriteResult::openFailed;
    }

    // What a plain open would reach: devices and pipes are written as a stream.
    struct stat reached {};
    bool exists = fstatat(AT_FDCWD, path.c_str(), &reached, AT_SYMLINK_NOFOLLOW) == 0;
    const bool link = exists && S_ISLNK(reached.st_mode);
    if (link) exists = fstatat(AT_FDCWD, path.c_str(), &reached, 0) == 0;
    if (!exists && errno != ENOENT) return WriteResult::openFailed;
    if (exists && S_ISDIR(reached.st_mode)) {
        errno = EISDIR;
        return WriteResult::openFailed;
    }
    const bool fifo = exists && S_ISFIFO(reached.st_mode);
    if (exists && !S_ISREG(reached.st_mode) && !fifo) return overwritePath(path, contents);

    // Resolve the links once, to a folder and a name in it.
    std::string target = path;
    if (link && !resolveLinks(target)) return WriteResult::openFailed;
    const auto slash = target.rfind('/');
    const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
    const std::string folderPath = slash == std::string::npos ? "." : slash == 0 ? "/" : target.substr(0, slash);
    const std::string_view last = name;
    if (last.empty() || last == "." || last == "..") {
        errno = EISDIR;
        return WriteResult::openFailed;
    }
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
        if (fifo && guardedBySticky(folder.fd, st)) return refused(kStickyRule);
        // A pipe waits for its reader, as a plain open does.
        old.fd = openat(folder.fd, name.c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC | (fifo ? 0 : O_NONBLOCK));
        if (old.fd < 0) return WriteResult::openFailed;
        if (fifo) return overwrite(old, contents);
        if (fstat(old.fd, &st) != 0 || !reachedBy(st)) return overwritePath(path, contents);
        if (guardedBySticky(folder.fd, st)) return refused(kStickyRule);
    } else if (fstatat(folder.fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
        errno = EEXIST;  // only the text leads there, or it appeared meanwhile
        return WriteResult::openFailed;
    }
    return writeBeside(folder.fd, name, old, st, contents);
}

}  // namespace

WriteResult replaceFile(const std::string& path, const std::string& contents) {
    const WriteResult result = replaceAt(path, contents);
    if (result != WriteResult::ok) failedWith = errno;
    return result;
}

}  // namespace ventrim::platform
