// How a file is rewritten in place on Linux, one run at a time, and how the
// signals are held while a step must not be cut in two.
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/syscall.h>

#include <cerrno>
#include <cstring>
#include <ctime>

#include "io_posix.h"
#include "write_file_posix.h"

namespace ventrim::platform {

// The C library's signal sets leave out the two real-time signals it keeps
// for itself (32 and 33), which end the process like any other, so the
// kernel is asked directly, with its own set.
SignalsHeld::SignalsHeld() : saved_() {
    unsigned char all[kSetSize];
    std::memset(all, 0xFF, sizeof all);
    syscall(SYS_rt_sigprocmask, SIG_BLOCK, all, saved_, kSetSize);
}

SignalsHeld::~SignalsHeld() { syscall(SYS_rt_sigprocmask, SIG_SETMASK, saved_, nullptr, kSetSize); }

namespace {

// Takes the lock by which runs that rewrite one file in place take turns. A
// lock another process holds (a reader's shared one too) is waited for 2
// seconds at most, as long as Windows waits for a held header: no lock can
// hang a build.
Outcome lockWithin2Seconds(int fd) {
    for (int attempt = 0;; ++attempt) {
        if (flock(fd, LOCK_EX | LOCK_NB) == 0) return Outcome::ok;
        if (errno != EWOULDBLOCK) return Outcome::writeFailed;
        if (attempt == 100) return Outcome::locked;
        const timespec pause{0, 20 * 1000 * 1000};
        nanosleep(&pause, nullptr);
    }
}

}  // namespace

// A size limit the new text would pass fails before anything is written;
// otherwise the part beyond the old end is written first and cut off again if
// that fails, and only then are the existing bytes overwritten.
Outcome overwrite(Fd& fd, const std::string& contents) {
    struct stat st {};
    Outcome outcome = fstatat(fd.fd, "", &st, AT_EMPTY_PATH) == 0 ? Outcome::ok : Outcome::writeFailed;
    if (outcome == Outcome::ok && !S_ISREG(st.st_mode)) {
        if (!writeAll(fd.fd, contents.data(), contents.size())) outcome = Outcome::writeFailed;
    } else if (outcome == Outcome::ok && (outcome = lockWithin2Seconds(fd.fd)) == Outcome::ok) {
        struct rlimit64 limit {};  // the kernel's layout
        bool ok = fstatat(fd.fd, "", &st, AT_EMPTY_PATH) == 0 &&
                  syscall(SYS_prlimit64, 0, RLIMIT_FSIZE, nullptr, &limit) == 0;
        if (ok && limit.rlim_cur != RLIM64_INFINITY && contents.size() > limit.rlim_cur) {
            errno = EFBIG;
            ok = false;
        }
        const std::size_t oldSize = static_cast<std::size_t>(st.st_size);
        const std::size_t kept = contents.size() < oldSize ? contents.size() : oldSize;
        const SignalsHeld held;
        ok = ok && writeAll(fd.fd, contents.data() + kept, contents.size() - kept, static_cast<off_t>(kept));
        if (!ok && ftruncate(fd.fd, st.st_size) != 0) { /* nothing more can be done */ }
        ok = ok && writeAll(fd.fd, contents.data(), kept, 0) &&
             ftruncate(fd.fd, static_cast<off_t>(contents.size())) == 0;
        if (!ok) outcome = Outcome::writeFailed;
    }
    const int error = errno;
    const bool closed = fd.closeNow();
    if (closed) errno = error;
    return closed ? outcome : Outcome::writeFailed;
}

}  // namespace ventrim::platform
