// OS services on Linux and other POSIX systems.
#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

#include "build_stamp.h"
#include "platform.h"

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

bool writeAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
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
    const int fd = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
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

std::string directoryOf(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// Follows symbolic links as open() would, so that a link to the header is kept
// and the file it points to is replaced. Works for dangling links too.
bool resolveLinks(std::string& path) {
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st {};
        if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return true;
        std::string target(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : 4095) + 1, '\0');
        const ssize_t n = readlink(path.c_str(), &target[0], target.size());
        if (n <= 0 || static_cast<std::size_t>(n) >= target.size()) return false;
        target.resize(static_cast<std::size_t>(n));
        path = target[0] == '/' ? target : directoryOf(path) + target;
    }
    return false;  // a loop, as ELOOP
}

// What a plain fopen(path, "w") would do: used for devices and FIFOs, and for a
// writable file in a directory where no temporary file can be made.
WriteResult writeInPlace(const std::string& path, const std::string& contents) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) return WriteResult::openFailed;
    const bool written = writeAll(fd, contents.data(), contents.size());
    const bool closed = close(fd) == 0;
    return written && closed ? WriteResult::ok : WriteResult::writeFailed;
}

// Creates a new file beside target, with the permissions a plain create gives.
int createTempBeside(const std::string& target, std::string& tempPath) {
    const std::string dir = directoryOf(target);
    // Keep the name well under NAME_MAX whatever the header is called.
    const std::string base = target.substr(dir.size(), 200);
    for (int attempt = 0; attempt < 16; ++attempt) {
        unsigned char r[4];
        randomBytes(r, sizeof r);
        tempPath = dir + "." + base + ".";
        for (const unsigned char byte : r) {
            tempPath += "0123456789abcdef"[byte >> 4];
            tempPath += "0123456789abcdef"[byte & 0xF];
        }
        tempPath += ".tmp";
        const int fd = open(tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
}

}  // namespace

std::array<std::uint8_t, 16> createUuid() {
    std::array<std::uint8_t, 16> uuid{};
    randomBytes(uuid.data(), uuid.size());
    markVersion4(uuid);
    return uuid;
}

std::string accountName() {
    const uid_t uid = geteuid();
    std::string buffer(1024, '\0');
    passwd entry{};
    passwd* found = nullptr;
    int rc;
    while ((rc = getpwuid_r(uid, &entry, &buffer[0], buffer.size(), &found)) == ERANGE &&
           buffer.size() < (1u << 20)) {
        buffer.resize(buffer.size() * 2);
    }
    if (rc == 0 && found != nullptr && found->pw_name != nullptr) return found->pw_name;
    // No account entry, common for ids handed out by containers and CI runners.
    return std::to_string(uid);
}

std::int64_t clockSeconds() { return static_cast<std::int64_t>(std::time(nullptr)); }

bool toLocalTime(std::int64_t seconds, std::tm& local) {
    const auto t = static_cast<std::time_t>(seconds);
    if (static_cast<std::int64_t>(t) != seconds) return false;
    return localtime_r(&t, &local) != nullptr;
}

WriteResult replaceFile(const std::string& path, const std::string& contents) {
    // Under a file-size limit, fail the write with EFBIG and clean up rather
    // than be killed half way.
    signal(SIGXFSZ, SIG_IGN);

    if (path.empty() || path.back() == '/') return WriteResult::openFailed;

    struct stat st {};
    const bool exists = stat(path.c_str(), &st) == 0;
    if (exists) {
        if (S_ISDIR(st.st_mode)) return WriteResult::openFailed;
        if (!S_ISREG(st.st_mode)) return writeInPlace(path, contents);
        if (faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0) return WriteResult::openFailed;
    } else if (errno != ENOENT) {
        return WriteResult::openFailed;
    }

    std::string target = path;
    if (!resolveLinks(target)) return WriteResult::openFailed;

    std::string tempPath;
    const int fd = createTempBeside(target, tempPath);
    if (fd < 0) {
        // A writable header in a directory we may not add to: replace in place.
        return exists ? writeInPlace(path, contents) : WriteResult::openFailed;
    }
    if (exists) {
        // Keep the replaced header's permissions and, where allowed, its owner.
        if (fchmod(fd, st.st_mode & 07777) != 0) { /* keeps the create mode */ }
        if ((st.st_uid != geteuid() || st.st_gid != getegid()) && fchown(fd, st.st_uid, st.st_gid) != 0) {
            /* only root may give a file away; the new owner is then us */
        }
    }
    const bool written = writeAll(fd, contents.data(), contents.size());
    const bool closed = close(fd) == 0;
    if (written && closed && rename(tempPath.c_str(), target.c_str()) == 0) return WriteResult::ok;
    unlink(tempPath.c_str());
    return WriteResult::writeFailed;
}

}  // namespace ventrim::platform
