// Running git on Linux.
//
// Every system call here goes through syscall(2), which the tool binds
// already: each C library function more (posix_spawn and its helpers, pipe2,
// poll, waitpid, kill) would add a relocation and a symbol version to every
// run's start, also the runs without --revision.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "revision.h"

namespace ventrim::platform {

namespace {

// Of what git writes only the start is kept: the status's headers come
// first, and a message's first line.
constexpr std::size_t kKeptBytes = 1 << 16;

// The items of a list (each NUL-terminated) as a null-terminated array for
// execve, which the caller frees.
char** pointers(std::string& list) {
    const auto count = static_cast<std::size_t>(std::count(list.begin(), list.end(), '\0'));
    auto* const out = static_cast<char**>(std::malloc((count + 1) * sizeof(char*)));
    if (out == nullptr) return nullptr;
    std::size_t i = 0;
    for (std::size_t at = 0; at < list.size(); at = list.find('\0', at) + 1) out[i++] = &list[at];
    out[i] = nullptr;
    return out;
}

// The value of name in envp, or null.
const char* variable(char** envp, std::string_view name) {
    for (; envp != nullptr && *envp != nullptr; ++envp) {
        const std::string_view text = *envp;
        if (text.size() > name.size() && text.substr(0, name.size()) == name && text[name.size()] == '=') {
            return *envp + name.size() + 1;
        }
    }
    return nullptr;
}

// Where execvp would look for git, as a list: each folder of PATH (an empty
// one is the current folder), or the C library's default without PATH.
std::string gitCandidates(char** envp) {
    const char* path = variable(envp, "PATH");
    const std::string_view folders = path != nullptr ? path : "/bin:/usr/bin";
    std::string out;
    for (std::size_t at = 0, end; at <= folders.size(); at = end + 1) {
        end = std::min(folders.find(':', at), folders.size());
        const std::string_view folder = folders.substr(at, end - at);
        (out += folder.empty() ? std::string_view(".") : folder) += std::string_view("/git\0", 5);
    }
    return out;
}

// fd moved to 3 or above (close-on-exec), so that setting up the child's
// standard streams cannot overwrite it when the tool started without them.
int aboveStandardStreams(int fd) {
    if (fd > STDERR_FILENO) return fd;
    const auto moved = static_cast<int>(syscall(SYS_fcntl, fd, F_DUPFD_CLOEXEC, 3));
    close(fd);
    return moved;
}

// In the forked child: standard streams, a process group of its own, an end
// when the tool ends (a build stopped by Ctrl-C reaches the tool, not the
// group), then git from the first folder that has one. On failure writes
// errno to report.
[[noreturn]] void startGit(int input, int out, int err, int report, const std::string& candidates, char** argv,
                           char** envp) {
    syscall(SYS_dup3, input, STDIN_FILENO, 0);
    syscall(SYS_dup3, out, STDOUT_FILENO, 0);
    syscall(SYS_dup3, err, STDERR_FILENO, 0);
    syscall(SYS_setpgid, 0, 0);
    syscall(SYS_prctl, PR_SET_PDEATHSIG, SIGKILL, 0, 0, 0);
    int error = ENOENT;
    for (const char* candidate = candidates.c_str(); *candidate != '\0'; candidate += std::strlen(candidate) + 1) {
        syscall(SYS_execve, candidate, argv, envp);
        if (errno == EACCES) error = EACCES;
        if (errno != ENOENT && errno != ENOTDIR && errno != EACCES) {
            error = errno;
            break;
        }
    }
    syscall(SYS_write, report, &error, sizeof error);
    syscall(SYS_exit_group, 127);
    __builtin_unreachable();
}

// Milliseconds left until deadline, at least 0.
long millisecondsLeft(std::chrono::steady_clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    return left.count() < 0 ? 0 : static_cast<long>(left.count()) + 1;
}

// Waits up to milliseconds for fds (none: a pause); the count ready.
int await(pollfd* fds, int count, long milliseconds) {
    timespec timeout{milliseconds / 1000, milliseconds % 1000 * 1000000};
    return static_cast<int>(syscall(SYS_ppoll, fds, count, &timeout, nullptr, 0));
}

// Reads the two pipes until both end or deadline passes; false then.
bool drain(int out, int err, GitRun& run, std::chrono::steady_clock::time_point deadline) {
    pollfd fds[] = {{out, POLLIN, 0}, {err, POLLIN, 0}};
    std::string* const texts[] = {&run.out, &run.err};
    int open = 2;
    while (open > 0) {
        const int ready = await(fds, 2, millisecondsLeft(deadline));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return false;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].revents == 0) continue;
            char chunk[4096];
            const ssize_t n = read(fds[i].fd, chunk, sizeof chunk);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                fds[i].fd = -1;  // poll skips it
                --open;
            } else if (texts[i]->size() < kKeptBytes) {
                texts[i]->append(chunk, static_cast<std::size_t>(n));
            }
        }
    }
    return true;
}

// The pipes and files of one run, closed at its end.
struct Fds {
    int fd[7] = {-1, -1, -1, -1, -1, -1, -1};  // out, err and report pipes (read, write), /dev/null
    Fds() = default;
    Fds(const Fds&) = delete;
    Fds& operator=(const Fds&) = delete;
    ~Fds() {
        for (const int f : fd) {
            if (f >= 0) close(f);
        }
    }
    bool open() {
        for (int i = 0; i < 6; i += 2) {
            if (syscall(SYS_pipe2, fd + i, O_CLOEXEC) != 0) return false;
            fd[i] = aboveStandardStreams(fd[i]), fd[i + 1] = aboveStandardStreams(fd[i + 1]);
        }
        fd[6] = aboveStandardStreams(openat(AT_FDCWD, "/dev/null", O_RDONLY | O_CLOEXEC));
        for (const int f : fd) {
            if (f < 0) return false;
        }
        return true;
    }
    void closeNow(int i) {
        close(fd[i]);
        fd[i] = -1;
    }
};

// Reads what git writes and waits for it to end, or kills it, with what it
// started, at deadline.
void collect(pid_t pid, Fds& fds, GitRun& run, std::chrono::steady_clock::time_point deadline) {
    // The report pipe ends without a word once git runs.
    int error = 0;
    ssize_t n;
    while ((n = read(fds.fd[4], &error, sizeof error)) < 0 && errno == EINTR) {}
    int status = 0;
    long waited = 0;
    if (n == sizeof error) {
        run.cause = error == ENOENT ? "git is not found on PATH" : "git cannot be started: " + std::string(std::strerror(error));
        waited = syscall(SYS_wait4, pid, &status, 0, nullptr);  // it ends at once
    } else if (drain(fds.fd[0], fds.fd[2], run, deadline)) {
        // Once its output has ended git is on its way out; it gets until the
        // deadline all the same.
        while ((waited = syscall(SYS_wait4, pid, &status, WNOHANG, nullptr)) == 0 && millisecondsLeft(deadline) > 0) {
            await(nullptr, 0, 1);
        }
    }
    if (waited != pid) {
        syscall(SYS_kill, -pid, SIGKILL);
        syscall(SYS_wait4, pid, &status, 0, nullptr);
    }
    if (run.cause.empty()) {
        run.outcome = waited == pid ? GitRun::Outcome::exited : GitRun::Outcome::timedOut;
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
}

// Starts git with fds and waits for it, the signals this process ignores
// (SIGPIPE, SIGXFSZ) as they are by default for git, whose exec would keep
// them ignored; and SIGCHLD too, which ignored would leave no exit status.
void start(Fds& fds, const std::string& candidates, char** argv, char** envp, GitRun& run,
           std::chrono::steady_clock::time_point deadline) {
    constexpr int kSignals[] = {SIGPIPE, SIGXFSZ, SIGCHLD};
    struct sigaction byDefault {}, was[3]{};
    byDefault.sa_handler = SIG_DFL;
    for (int i = 0; i < 3; ++i) sigaction(kSignals[i], &byDefault, &was[i]);
    // A fork: clone with no flags but the signal its end sends, and no stack
    // of its own (every architecture but s390 takes the flags first).
    const auto pid = static_cast<pid_t>(syscall(SYS_clone, SIGCHLD, 0, 0, 0, 0));
    if (pid == 0) startGit(fds.fd[6], fds.fd[1], fds.fd[3], fds.fd[5], candidates, argv, envp);
    if (pid < 0) {
        run.cause = "git cannot be started: " + std::string(std::strerror(errno));
    } else {
        syscall(SYS_setpgid, pid, pid);  // so that a kill at once reaches the group too
        for (const int i : {1, 3, 5, 6}) fds.closeNow(i);
        collect(pid, fds, run, deadline);
    }
    for (int i = 0; i < 3; ++i) sigaction(kSignals[i], &was[i], nullptr);
}

}  // namespace

GitRun runGit(const FilePath& dir, const std::string& args, char** envp,
              std::chrono::steady_clock::time_point deadline) {
    GitRun run;
    constexpr char kGit[] = "git\0-C";
    std::string argvList = std::string(kGit, sizeof kGit) + dir + '\0' + args, envList = gitEnvironment();
    for (char** entry = envp; entry != nullptr && *entry != nullptr; ++entry) {
        const std::string_view text = *entry;
        if (passedToGit(text.substr(0, text.find('=')))) (envList += text) += '\0';
    }
    const std::string candidates = gitCandidates(envp);
    // Made before the fork: the child only makes system calls.
    char** const argv = pointers(argvList);
    char** const gitEnvp = pointers(envList);
    Fds fds;
    if (argv == nullptr || gitEnvp == nullptr || !fds.open()) {
        run.cause = "git cannot be started: " + std::string(std::strerror(errno));
    } else {
        start(fds, candidates, argv, gitEnvp, run, deadline);
    }
    std::free(argv);
    std::free(gitEnvp);
    return run;
}

}  // namespace ventrim::platform
