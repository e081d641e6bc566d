// The names a temporary file takes beside the file it replaces. A file made
// without a name (O_TMPFILE) is named only for the moment it takes the
// file's place, under one name a file: a run killed in that moment leaves at
// most that one behind, and the next run removes it.
#include <fcntl.h>
#include <sys/file.h>

#include <cerrno>

#include "build_stamp.h"
#include "write_file_posix.h"

namespace ventrim::platform {

namespace {

// The name cut at a character boundary so that the temporary's always fits.
std::string dotted(const std::string& name) { return '.' + name.substr(0, characterCut(name, 200)) + '.'; }

// Tries made(temp) with a temporary name of its own for one run (dotted,
// salted, suffixed) in temp, another while the name is taken, 16 at most.
template <typename Make>
bool withSaltedName(const std::string& name, std::string& temp, Make made) {
    for (int attempt = 0; attempt < 16; ++attempt) {
        const auto salt = createUuid();
        temp = dotted(name);
        for (std::size_t i = 12; i < 16; ++i) {
            temp += "0123456789abcdef"[salt[i] >> 4];
            temp += "0123456789abcdef"[salt[i] & 0xF];
        }
        if (made(temp += ".tmp")) return true;
        if (errno != EEXIST) break;
    }
    return false;
}

// Removes the file at temp when no process holds a lock on it: what a killed
// run left there, the new file or the old one it had just been exchanged
// with. Only a regular file is opened, reopened through the descriptor that
// found it, and only the file locked is removed.
bool sweep(int folder, const std::string& temp) {
    struct stat found {}, now {};
    const Fd path(openat(folder, temp.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
    if (path.fd < 0 || fstat(path.fd, &found) != 0 || !S_ISREG(found.st_mode)) return false;
    const Fd fd(open(("/proc/self/fd/" + std::to_string(path.fd)).c_str(), O_RDONLY | O_NOCTTY | O_CLOEXEC));
    return fd.fd >= 0 && flock(fd.fd, LOCK_EX | LOCK_NB) == 0 &&
           fstatat(folder, temp.c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0 && sameFile(now, found) &&
           unlinkat(folder, temp.c_str(), 0) == 0;
}

}  // namespace

int createTemp(int folder, const std::string& name, mode_t mode, std::string& temp) {
    int fd = -1;
    withSaltedName(name, temp, [&](const std::string& t) {
        return (fd = openat(folder, t.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode)) >= 0;
    });
    return fd;
}

bool linkAs(int fd, int folder, const std::string& name) {
    return linkat(fd, "", folder, name.c_str(), AT_EMPTY_PATH) == 0 ||
           (errno == ENOENT &&
            linkat(AT_FDCWD, ("/proc/self/fd/" + std::to_string(fd)).c_str(), folder, name.c_str(), AT_SYMLINK_FOLLOW) == 0);
}

bool linkTemp(int fd, const Fd& old, int folder, const std::string& name, std::string& temp) {
    // The file's own temporary name goes to the run that holds a lock on the
    // file it replaces, which the exchange then gives that name: no other run
    // takes the name while this one lives, and the lock shows that it does.
    // Where another run holds it (or a reader), a salted name instead.
    if (flock(old.fd, LOCK_EX | LOCK_NB) == 0) {
        temp = dotted(name) + "ventrim.tmp";
        if (linkAs(fd, folder, temp) || (errno == EEXIST && sweep(folder, temp) && linkAs(fd, folder, temp)))
            return true;
    }
    if (withSaltedName(name, temp, [&](const std::string& t) { return linkAs(fd, folder, t); })) return true;
    temp.clear();
    return false;
}

}  // namespace ventrim::platform
