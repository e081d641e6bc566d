// How new contents reach a file on Linux, once replace_file_posix.cpp has
// resolved where the file is, opened it and checked it: write_file_posix.cpp,
// temporary_posix.cpp and rewrite_posix.cpp.
#pragma once

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "platform.h"

namespace ventrim::platform {

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

// Holds every signal that can be held (all but KILL and STOP) for a step
// that must not be cut in two, while it lives.
class SignalsHeld {
public:
    SignalsHeld();
    ~SignalsHeld();
    SignalsHeld(const SignalsHeld&) = delete;
    SignalsHeld& operator=(const SignalsHeld&) = delete;

private:
    static constexpr std::size_t kSetSize = (_NSIG - 1) / 8;  // the kernel's, one bit a signal
    unsigned char saved_[kSetSize];
};

// What a step of the replacement came to. changed: the file at the name was
// not the one checked (another run or another user replaced it meanwhile);
// nothing was written and the replacement starts over from the path. The
// others after it are refusals of the tool's own, each with its cause.
enum class Outcome { ok, openFailed, writeFailed, changed, sticky, locked, noNewFile };

inline bool sameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// The temporary file's names (temporary_posix.cpp). createTemp makes one
// named, with mode, its name in temp. linkAs gives a file made without a name
// (fd) a name: through the descriptor itself, which needs CAP_DAC_READ_SEARCH,
// or else through /proc. linkTemp names such a file for the moment it takes
// the place of old, temp its name (cleared where it cannot be named).
int createTemp(int folder, const std::string& name, mode_t mode, std::string& temp);
bool linkAs(int fd, int folder, const std::string& name);
bool linkTemp(int fd, const Fd& old, int folder, const std::string& name, std::string& temp);

// Writes where fd stands and closes it: a device or pipe gets the stream, a
// regular file is rewritten in place so that a failure leaves its old
// contents whole, one run at a time: a lock another process holds on it is
// waited for 2 seconds at most (locked after that).
Outcome overwrite(Fd& fd, const std::string& contents);

// Puts contents in a new file beside name in folder, which then takes that
// name. With old open on the checked file there now (st its status), the new
// file takes its owner, group, mode and access ACL; where it cannot (the
// runner may not give that owner or group) or the folder takes no new entry,
// old is rewritten in place instead, as a plain write would. Without
// (old.fd < 0), the new file is made as a plain create makes it.
Outcome writeBeside(int folder, const std::string& name, Fd& old, const struct stat& st,
                    const std::string& contents);

}  // namespace ventrim::platform
