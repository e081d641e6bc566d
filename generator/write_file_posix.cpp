// How new contents reach a file on Linux and other POSIX systems: through a
// temporary file beside it that takes what the replaced file carries and then
// its name, or, where no new file can take its place, rewritten in place.
// Either way every signal that can be held is held meanwhile, so that no
// signal leaves a temporary file or half a header: one that comes is taken
// once the step is over, and ends the process as it would have.
#include "write_file_posix.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/syscall.h>

#include <cerrno>
#include <cstdio>

#include "build_stamp.h"
#include "io_posix.h"

namespace ventrim::platform {

namespace {

// Holds every signal that can be held (all but KILL and STOP) for a step
// that must not be cut in two. Two calls, however many signals there are.
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

// Errors with which a folder refuses a new entry, or a rename, that a plain
// open of an existing file would not meet: no write permission on the folder,
// a sticky folder, a file mounted on its own.
bool folderRefuses(int error) {
    return error == EACCES || error == EPERM || error == EROFS || error == EXDEV || error == EBUSY;
}

// Creates the temporary file beside the target with mode (before the umask
// and the folder's default ACL), and names it in temp: the target's name, cut
// at a character boundary so it always fits, dotted and suffixed.
int createTemp(int folder, const std::string& name, mode_t mode, std::string& temp) {
    for (int attempt = 0; attempt < 16; ++attempt) {
        const auto salt = createUuid();
        temp.assign(1, '.').append(name, 0, characterCut(name, 200)) += '.';
        for (std::size_t i = 12; i < 16; ++i) {
            temp += "0123456789abcdef"[salt[i] >> 4];
            temp += "0123456789abcdef"[salt[i] & 0xF];
        }
        temp += ".tmp";
        const int fd = openat(folder, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
}

constexpr char kAccessAcl[] = "system.posix_acl_access";

// Gives the new file the old one's access ACL. Where that has none, any ACL
// the folder's default gave the new file goes: the mode set after would
// widen it, as the group class bits are the ACL's mask. A file system
// without ACLs has none to carry. (The attribute calls are made through
// syscall(2): one C library function to bind at run time instead of three.)
bool carryAcl(int from, int to) {
    char small[512];  // 62 entries; an ACL may hold a few thousand
    std::string large;
    char* acl = small;
    long size = sizeof small;
    long n;
    while ((n = syscall(SYS_fgetxattr, from, kAccessAcl, acl, size)) < 0 && errno == ERANGE && size < 65536) {
        large.resize(static_cast<std::size_t>(size *= 2));  // to the most an attribute can hold
        acl = &large[0];
    }
    if (n > 0) return syscall(SYS_fsetxattr, to, kAccessAcl, acl, n, 0) == 0;
    if (n == 0 || errno == ENODATA) return syscall(SYS_fremovexattr, to, kAccessAcl) == 0 || errno == ENODATA;
    return errno == EOPNOTSUPP;
}

// Gives the new file the owner of the file it replaces where the runner may
// (root may; others may keep a group they belong to), its access ACL and its
// mode, a set-id bit only with its owner.
bool carryAttributes(int from, int to, const struct stat& st) {
    struct stat made {};
    const bool ownerKept = (fstat(to, &made) == 0 && made.st_uid == st.st_uid && made.st_gid == st.st_gid) ||
                           fchown(to, st.st_uid, st.st_gid) == 0;
    if (!ownerKept && fchown(to, static_cast<uid_t>(-1), st.st_gid) != 0) { /* keeps our group */ }
    return carryAcl(from, to) && fchmod(to, st.st_mode & (ownerKept ? 07777 : 0777)) == 0;
}

// Gives the temporary file the target's name. Exchanging the two names spares
// the file system the flush of the new data that ext4 and others make when a
// file is renamed over another. The old file then has the temporary name and
// is removed; should that be something else (a folder put in its place
// meanwhile), it is given its name back and the rename fails as it would have.
bool putInPlace(int folder, const std::string& temp, const std::string& name, bool exists) {
    if (exists && renameat2(folder, temp.c_str(), folder, name.c_str(), RENAME_EXCHANGE) == 0) {
        if (unlinkat(folder, temp.c_str(), 0) == 0) return true;
        renameat2(folder, temp.c_str(), folder, name.c_str(), RENAME_EXCHANGE);
    }
    return renameat(folder, temp.c_str(), folder, name.c_str()) == 0;
}

}  // namespace

// The part beyond the old end is written first and cut off again if that
// fails; only then are the existing bytes overwritten.
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

WriteResult writeBeside(int folder, const std::string& name, Fd& old, const struct stat& st,
                        const std::string& contents) {
    const bool exists = old.fd >= 0;
    int error;
    {
        const SignalsHeld held;
        // A replacement is readable by no one else until it has the old
        // file's owner and mode. A new file has nothing to hide: it is made as
        // a plain create makes it (the folder's default ACL, or the umask).
        std::string temp;
        Fd fd(createTemp(folder, name, exists ? 0600 : 0666, temp));
        if (fd.fd < 0) {
            // Too many open files: the header could not be opened, as a plain
            // open would have failed.
            if (errno == EMFILE || errno == ENFILE) return WriteResult::openFailed;
            if (!folderRefuses(errno)) return WriteResult::writeFailed;
            if (!exists) return WriteResult::openFailed;
            error = errno;
        } else {
            const bool written = writeAll(fd.fd, contents.data(), contents.size()) &&
                                 (!exists || carryAttributes(old.fd, fd.fd, st));
            error = 0;  // a failed write is no reason to write in place
            if (fd.closeNow() && written) {
                if (putInPlace(folder, temp, name, exists)) return WriteResult::ok;
                error = errno;
            }
            unlinkat(folder, temp.c_str(), 0);
        }
    }
    // A writable header in a folder that takes no new entries is rewritten in
    // place; any other failure leaves the old header as it was.
    return exists && folderRefuses(error) ? overwrite(old, contents) : WriteResult::writeFailed;
}

}  // namespace ventrim::platform
