// How new contents reach a file on Linux: through a temporary file beside it
// that takes what the replaced file carries and then its name, or, where no
// new file can take its place as it was, rewritten in place (rewrite_posix.cpp).
// Either way every signal that can be held is held meanwhile, so that no
// signal leaves a temporary file or half a header: one that comes is taken
// once the step is over, and ends the process as it would have. SIGKILL cannot
// be held: the temporary file is made without a name where the file system
// can, and named only for the moment it takes the file's place
// (temporary_posix.cpp).
#include "write_file_posix.h"

#include <fcntl.h>
#include <sys/syscall.h>

#include <cerrno>
#include <cstring>

#include "io_posix.h"

namespace ventrim::platform {

namespace {

// Most calls that only this step makes go through syscall(2), which is bound
// at run time once for all of them: binding each C library function costs a
// run about as much as a system call's own work. Measured with callgrind,
// library calls for these (statx, the three attribute calls, renameat2,
// unlinkat, fchmod, and prlimit in rewrite_posix.cpp) cost a run that
// replaces a header about 5,100 instructions, 3.5%. New ones are plain
// library calls (linkat here, flock in rewrite_posix.cpp): what binding them
// costs is well under 2% of a run.

// Errors with which a folder refuses a new entry, or a rename, that a plain
// open of an existing file would not meet: no write permission on the folder,
// a sticky folder, a file mounted on its own.
bool folderRefuses(int error) {
    return error == EACCES || error == EPERM || error == EROFS || error == EXDEV || error == EBUSY;
}

// Whether the folder only takes new entries (chattr +a): a temporary file
// made there could never be removed.
bool appendOnly(int folder) {
    struct statx sx {};
    return syscall(SYS_statx, folder, "", AT_EMPTY_PATH, 0, &sx) == 0 && (sx.stx_attributes & STATX_ATTR_APPEND) != 0;
}

constexpr char kAccessAcl[] = "system.posix_acl_access";

// Gives the new file the old one's access ACL. Where that has none, any ACL
// the folder's default gave the new file goes: the mode set after would
// widen it, as the group class bits are the ACL's mask. A file system
// without ACLs has none to carry.
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

// Whether the new file could take the owner and group of the file it
// replaces (root may give any; others may keep their own and a group they
// belong to). Anything else would hand the old group's rights to another.
bool ownerCarried(int to, const struct stat& st) {
    struct stat made {};
    return (fstatat(to, "", &made, AT_EMPTY_PATH) == 0 && made.st_uid == st.st_uid && made.st_gid == st.st_gid) ||
           fchown(to, st.st_uid, st.st_gid) == 0;
}

// renameat2 through syscall(2), as the other calls bound at run time only for
// this step.
long renameIn(int folder, const std::string& from, const std::string& to, unsigned flags) {
    return syscall(SYS_renameat2, folder, from.c_str(), folder, to.c_str(), flags);
}

// Gives the temporary file the target's name. Exchanging the two names spares
// the file system the flush of the new data that ext4 and others make when a
// file is renamed over another; the old file then has the temporary name and
// is removed. Whatever stood at the name by then goes as a rename would drop
// it; what cannot be removed (a folder, another's file in a sticky folder) is
// given its name back, and the replacement starts over. A new header takes
// the name only while it is free.
Outcome putInPlace(int folder, const std::string& temp, const std::string& name, bool exists) {
    const auto startOver = [&] {
        syscall(SYS_unlinkat, folder, temp.c_str(), 0);
        return Outcome::changed;
    };
    if (!exists) {
        if (renameIn(folder, temp, name, RENAME_NOREPLACE) == 0) return Outcome::ok;
        if (errno == EEXIST) return startOver();
    } else if (renameIn(folder, temp, name, RENAME_EXCHANGE) == 0) {
        if (syscall(SYS_unlinkat, folder, temp.c_str(), 0) == 0) return Outcome::ok;
        renameIn(folder, temp, name, RENAME_EXCHANGE);
        return startOver();
    }
    if (errno != EINVAL) return Outcome::writeFailed;  // EINVAL: a file system that cannot do either
    return renameIn(folder, temp, name, 0) == 0 ? Outcome::ok : Outcome::writeFailed;
}

// A new header in a folder that only takes new entries: made under its name,
// as a plain create makes it.
Outcome createInPlace(int folder, const std::string& name, const std::string& contents) {
    Fd fd(openat(folder, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (fd.fd < 0) return errno == EEXIST ? Outcome::changed : Outcome::openFailed;
    return overwrite(fd, contents);
}

// What filling a temporary file came to: notOwned when it could not take the
// old file's owner and group.
enum class Filled { ok, failed, notOwned };

// Writes contents to the temporary file fd and, for a replacement (old.fd >=
// 0), gives it the owner, group, access ACL and mode of the old file (st).
Filled fill(int fd, const Fd& old, const struct stat& st, const std::string& contents) {
    if (!writeAll(fd, contents.data(), contents.size())) return Filled::failed;
    if (old.fd < 0) return Filled::ok;
    if (!ownerCarried(fd, st)) return Filled::notOwned;
    return carryAcl(old.fd, fd) && syscall(SYS_fchmod, fd, st.st_mode & 07777) == 0 ? Filled::ok : Filled::failed;
}

}  // namespace

Outcome writeBeside(int folder, const std::string& name, Fd& old, const struct stat& st,
                    const std::string& contents) {
    const bool exists = old.fd >= 0;
    if (appendOnly(folder)) return exists ? overwrite(old, contents) : createInPlace(folder, name, contents);
    {
        const SignalsHeld held;
        // A replacement is made with mode 600 until it has the old file's
        // owner and mode. A new file is made as a plain create makes it (the
        // folder's default ACL, or the umask). Without a name, where the file
        // system makes such files, it is named only once it is complete.
        const mode_t mode = exists ? 0600 : 0666;
        std::string temp;
        // A new header takes its name straight away, while it is free. The
        // file systems that make such files report no write error at close:
        // it is closed once it has the name, out of the moment a kill would
        // leave the temporary name behind.
        Fd fd(openat(folder, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, mode));
        Filled filled = fd.fd >= 0 ? fill(fd.fd, old, st, contents) : Filled::failed;
        const bool linked = fd.fd >= 0 && filled == Filled::ok &&
                            (exists ? linkTemp(fd.fd, old, folder, name, temp) : linkAs(fd.fd, folder, name));
        if (linked && !exists) return Outcome::ok;
        if (fd.fd >= 0 && filled == Filled::ok && !linked) {
            if (!exists && errno == EEXIST) return Outcome::changed;
            fd.closeNow();
        }
        if (fd.fd < 0) {  // made again under a name
            fd.fd = createTemp(folder, name, mode, temp);
            if (fd.fd >= 0) filled = fill(fd.fd, old, st, contents);
        }
        const auto drop = [&] {  // keeps errno for the report
            const int error = errno;
            if (fd.fd >= 0) fd.closeNow();
            if (!temp.empty()) syscall(SYS_unlinkat, folder, temp.c_str(), 0);
            errno = error;
        };
        if (fd.fd < 0) {
            // Too many open files: the header could not be opened, as a plain
            // open would have failed. A folder that takes no new entry leaves
            // a writable header to be rewritten in place; one that has no
            // entries of its own (/proc) cannot have it replaced.
            if (errno == EMFILE || errno == ENFILE || (!exists && folderRefuses(errno))) return Outcome::openFailed;
            if (errno == ENOENT) return exists ? Outcome::noNewFile : Outcome::openFailed;
            if (!folderRefuses(errno)) return Outcome::writeFailed;
        } else if (filled == Filled::failed || (!linked && !fd.closeNow())) {  // no reason to write in place
            drop();
            return Outcome::writeFailed;
        } else if (filled == Filled::ok) {
            const Outcome outcome = putInPlace(folder, temp, name, exists);
            if (outcome != Outcome::writeFailed || !exists || !folderRefuses(errno)) {
                if (outcome == Outcome::writeFailed) drop();
                return outcome;
            }
            drop();
        } else {
            drop();
        }
    }
    // The folder takes no new entry there (not writable, a sticky folder's
    // owner's header, a file mounted on its own), or the new file could not
    // take the old one's owner and group: the checked header is rewritten in
    // place while it still has the name, as a plain write would.
    struct stat now {};
    if (fstatat(folder, name.c_str(), &now, AT_SYMLINK_NOFOLLOW) != 0 || !sameFile(now, st)) return Outcome::changed;
    return overwrite(old, contents);
}

}  // namespace ventrim::platform
