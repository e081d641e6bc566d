// How new contents reach a file on Linux and other POSIX systems, once
// replace_file_posix.cpp has resolved where the file is and checked that a
// plain open would reach it.
#pragma once

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

// Writes where fd stands and closes it: a device or pipe gets the stream, a
// regular file is rewritten so that its old contents survive a failure.
WriteResult overwrite(Fd& fd, const std::string& contents);

// Puts contents in a new file beside name in folder, which then takes that
// name. With old open on the file there now (st its status), the new file
// takes its owner, mode and access ACL, and where the folder takes no new
// entry, old is rewritten in place instead; without (old.fd < 0), the new
// file is made as a plain create makes it.
WriteResult writeBeside(int folder, const std::string& name, Fd& old, const struct stat& st,
                        const std::string& contents);

}  // namespace ventrim::platform
