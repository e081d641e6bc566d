// Where the stamp's values come from on Linux and other POSIX systems.
#include <fcntl.h>
#include <signal.h>
#include <sys/random.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

#include "build_stamp.h"
#include "platform.h"
#include "io_posix.h"

namespace ventrim::platform {

namespace {

bool readAll(int fd, unsigned char* out, std::size_t size) {
    while (size > 0) {
        const ssize_t n = read(fd, out, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        out += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

std::uint64_t splitMix64(std::uint64_t& state) {
    std::uint64_t z = (state += 0x9E3779B97F4A7C15u);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
    return z ^ (z >> 31);
}

// Random bytes from the kernel; when neither getrandom nor /dev/urandom is
// available (a locked-down sandbox), a mix of the clock, the process id and the
// stack address, which still differs from run to run.
void randomBytes(unsigned char* out, std::size_t size) {
    if (getrandom(out, size, 0) == static_cast<ssize_t>(size)) return;
    const int fd = openat(AT_FDCWD, "/dev/urandom", O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        const bool ok = readAll(fd, out, size);
        close(fd);
        if (ok) return;
    }
    timespec wall{}, mono{};
    clock_gettime(CLOCK_REALTIME, &wall);
    clock_gettime(CLOCK_MONOTONIC, &mono);
    std::uint64_t state = static_cast<std::uint64_t>(wall.tv_sec) * 1000000007u ^
                          static_cast<std::uint64_t>(wall.tv_nsec) ^
                          static_cast<std::uint64_t>(mono.tv_nsec) << 32 ^
                          static_cast<std::uint64_t>(getpid()) << 17 ^
                          reinterpret_cast<std::uintptr_t>(&state);
    for (std::size_t i = 0; i < size; i += 8) {
        const std::uint64_t r = splitMix64(state);
        std::memcpy(out + i, &r, size - i < 8 ? size - i : 8);
    }
}

}  // namespace

std::array<std::uint8_t, 16> createUuid() {
    std::array<std::uint8_t, 16> uuid{};
    randomBytes(uuid.data(), uuid.size());
    markVersion4(uuid);
    return uuid;
}

FilePath fileArgument(int, char** argv, int index) { return argv[index]; }

void report(const std::string& text) { writeAll(STDOUT_FILENO, text.data(), text.size()); }

void reportError(const std::string& text) { writeAll(STDERR_FILENO, text.data(), text.size()); }

void initProcess() {
    // A reader that went away or a size limit on a redirected standard output
    // then fails the banner's write (EPIPE, EFBIG); the header is the job.
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &ignore, nullptr);
    sigaction(SIGXFSZ, &ignore, nullptr);
}

std::int64_t clockSeconds() { return static_cast<std::int64_t>(std::time(nullptr)); }

bool toLocalTime(std::int64_t seconds, std::tm& local) {
    const auto t = static_cast<std::time_t>(seconds);
    if (static_cast<std::int64_t>(t) != seconds) return false;
    return localtime_r(&t, &local) != nullptr;
}

}  // namespace ventrim::platform
