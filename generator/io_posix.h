// Whole reads and writes on POSIX, shared by the stamp's sources, the report
// and the file replacement.
#pragma once

#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <string>

namespace ventrim::platform {

// Writes all of data at offset or, for a stream (offset -1), where it stands.
inline bool writeAll(int fd, const char* data, std::size_t size, off_t offset = -1) {
    while (size > 0) {
        const ssize_t n = offset < 0 ? write(fd, data, size) : pwrite(fd, data, size, offset);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<std::size_t>(n);
        offset += offset < 0 ? 0 : n;
    }
    return true;
}

// Appends what remains of fd up to its end; false on a read error.
inline bool readToEnd(int fd, std::string& out) {
    char chunk[1024];  // small: each page of stack first touched costs a fault
    ssize_t n;
    while ((n = read(fd, chunk, sizeof chunk)) > 0 || (n < 0 && errno == EINTR)) {
        if (n > 0) out.append(chunk, static_cast<std::size_t>(n));
    }
    return n == 0;
}

}  // namespace ventrim::platform
