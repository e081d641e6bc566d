// Running git on Linux.
#include <fcntl.h>
#include <grp.h>
#include <linux/securebits.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "git_run.h"

namespace ventrim::platform {
namespace {

// The process group of the git that runs, for stopGit; 0 while none runs.
volatile sig_atomic_t runningGroup = 0;
constexpr int kStopSignals[] = {SIGTERM, SIGINT, SIGHUP};

// A signal that stops the tool ends git's whole group first (a wrapper's
// child too, which the parent-death signal would not reach), then the tool as
// the signal would have ended it.
extern "C" void stopGit(int number) {
    if (runningGroup > 0) kill(-runningGroup, SIGKILL);
    signal(number, SIG_DFL);
    raise(number);  // delivered once the handler returns
}

// A descriptor closed at the end of its scope.
struct Descriptor {
    int fd = -1;
    Descriptor() = default;
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor() { reset(); }
    void reset(int to = -1) {
        if (fd >= 0) close(fd);
        fd = to;
    }
};

// fd moved to 3 or above (close-on-exec), so that setting up the child's
// standard streams cannot overwrite it when the tool started without them.
int aboveStandardStreams(int fd) {
    if (fd < 0 || fd > STDERR_FILENO) return fd;
    const int moved = fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    close(fd);
    return moved;
}

bool openPipe(Descriptor& read, Descriptor& write) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return false;
    read.reset(aboveStandardStreams(fds[0]));
    write.reset(aboveStandardStreams(fds[1]));
    return read.fd >= 0 && write.fd >= 0;
}

// The descriptors of one run: git's standard streams (what it reads is
// /dev/null) and the pipe on which the child reports a failure to start.
struct Channels {
    Descriptor input{}, outRead{}, outWrite{}, errRead{}, errWrite{}, reportRead{}, reportWrite{};
    bool open() {
        input.reset(aboveStandardStreams(::open("/dev/null", O_RDONLY | O_CLOEXEC)));
        return input.fd >= 0 && openPipe(outRead, outWrite) && openPipe(errRead, errWrite) &&
               openPipe(reportRead, reportWrite);
    }
};

// What the child reports when it cannot start git: the step and its errno.
struct StartFailure {
    int asAccount = 0;  // 1: taking the owner's account failed; 0: starting git
    int error = 0;
};

// The items of a list (each NUL-terminated) as a null-terminated array.
std::vector<char*> pointers(std::string& list) {
    std::vector<char*> out;
    for (std::size_t at = 0; at < list.size(); at = list.find('\0', at) + 1) out.push_back(&list[at]);
    out.push_back(nullptr);
    return out;
}

// Takes the owner's account for good: its groups, group and user (real,
// effective and saved), which empty the capabilities; none come back, through
// kept or ambient capabilities or a set-user-ID program. False on any failure.
bool takeAccount(const GitSetup& setup, const std::vector<gid_t>& groups) {
    if (setup.uid < 0) return true;
    return setgroups(groups.size(), groups.data()) == 0 && setgid(static_cast<gid_t>(setup.gid)) == 0 &&
           setuid(static_cast<uid_t>(setup.uid)) == 0 && prctl(PR_SET_KEEPCAPS, 0, 0, 0, 0) == 0 &&
           (prctl(PR_GET_SECUREBITS, 0, 0, 0, 0) & (SECBIT_NO_SETUID_FIXUP | SECBIT_KEEP_CAPS)) == 0 &&
           prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
           (prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0) == 0 || errno == EINVAL) && setuid(0) != 0;
}

// In the forked child: standard streams, a process group of its own, the
// owner's account, an end when the tool ends, then git from the first
// candidate that is a program; else the failure on the report pipe.
[[noreturn]] void startGit(const Channels& c, const GitSetup& setup, const std::vector<gid_t>& groups, char* const* argv,
                           char* const* envp, const sigset_t& mask, pid_t parent) {
    StartFailure failure;
    if (dup2(c.input.fd, STDIN_FILENO) < 0 || dup2(c.outWrite.fd, STDOUT_FILENO) < 0 ||
        dup2(c.errWrite.fd, STDERR_FILENO) < 0 || setpgid(0, 0) != 0) {
        failure.error = errno;
    } else if (!takeAccount(setup, groups)) {
        failure = {1, errno != 0 ? errno : EPERM};
    } else {
        // Set after the account, whose change clears it; a tool that ended
        // before is no longer the parent.
        prctl(PR_SET_PDEATHSIG, SIGKILL, 0, 0, 0);
        if (getppid() != parent) _exit(127);
        sigprocmask(SIG_SETMASK, &mask, nullptr);
        failure.error = ENOENT;
        for (const char* candidate = setup.candidates.c_str(); *candidate != '\0'; candidate += std::strlen(candidate) + 1) {
            execve(candidate, argv, envp);
            // A folder without git, or a git that is no program for us: the next.
            if (errno == EACCES) failure.error = EACCES;
            if (errno != ENOENT && errno != ENOTDIR && errno != EACCES) {
                failure.error = errno;
                break;
            }
        }
    }
    (void)!write(c.reportWrite.fd, &failure, sizeof failure);
    _exit(127);
}

// Milliseconds left until deadline, at least 0.
int millisecondsLeft(std::chrono::steady_clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    return left.count() < 0 ? 0 : static_cast<int>(left.count()) + 1;
}

// Reads git's output and the report pipe until all three end: the outcome
// unless they did (exited stands for "ended").
GitRun::Outcome drain(Channels& c, GitRun& run, std::string& report, std::chrono::steady_clock::time_point deadline) {
    pollfd fds[] = {{c.outRead.fd, POLLIN, 0}, {c.errRead.fd, POLLIN, 0}, {c.reportRead.fd, POLLIN, 0}};
    std::string* const texts[] = {&run.out, &run.err, &report};
    std::vector<char> chunk(1 << 16);
    for (int open = 3; open > 0;) {
        const int ready = poll(fds, 3, millisecondsLeft(deadline));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return GitRun::Outcome::timedOut;
        for (int i = 0; i < 3; ++i) {
            if (fds[i].revents == 0) continue;
            const ssize_t n = read(fds[i].fd, chunk.data(), chunk.size());
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                fds[i].fd = -1;  // poll passes it over
                --open;
            } else if (texts[i]->size() + static_cast<std::size_t>(n) > kMaxGitOutput) {
                return GitRun::Outcome::overflowed;
            } else {
                texts[i]->append(chunk.data(), static_cast<std::size_t>(n));
            }
        }
    }
    return GitRun::Outcome::exited;
}

// Reads what git writes and waits until it ends, at most until deadline;
// then ends its whole group, which its exit leaves reserved until reaped.
void collect(pid_t pid, Channels& c, const GitSetup& setup, GitRun& run, std::chrono::steady_clock::time_point deadline) {
    std::string report;
    run.outcome = drain(c, run, report, deadline);
    // Once its output has ended git is on its way out; it gets until the
    // deadline all the same.
    bool ended = false;
    while (run.outcome == GitRun::Outcome::exited && !ended) {
        siginfo_t info{};
        ended = waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid;
        if (!ended && millisecondsLeft(deadline) == 0) run.outcome = GitRun::Outcome::timedOut;
        if (!ended) poll(nullptr, 0, 1);
    }
    kill(-pid, SIGKILL);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {}
    StartFailure failure;
    if (report.size() == sizeof failure) {
        std::memcpy(&failure, report.data(), sizeof failure);
        run.outcome = GitRun::Outcome::notStarted;
        const std::string why = std::strerror(failure.error);
        run.cause = failure.asAccount != 0 ? "git cannot be run as " + setup.account + ": " + why
                    : failure.error == ENOENT ? "git is not found on PATH"
                                              : "git cannot be started: " + why;
    } else if (ended) {
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
}

}  // namespace

GitRun runGit(const GitSetup& setup, const std::string& args, std::chrono::steady_clock::time_point deadline) {
    GitRun run;
    constexpr char kGit[] = "git";
    std::string argList = std::string(kGit, sizeof kGit) + setup.settings + "-C" + '\0' + setup.dir + '\0' + args;
    std::string envList = setup.environment;
    // Made before the fork: the child only makes system calls.
    const std::vector<char*> argv = pointers(argList), envp = pointers(envList);
    const std::vector<gid_t> groups(setup.groups.begin(), setup.groups.end());
    Channels c;
    if (!c.open()) return run.cause = "git cannot be started: " + std::string(std::strerror(errno)), run;

    // git starts with the signals the tool ignores (SIGPIPE, SIGXFSZ) back at
    // their defaults, as its exec would keep them ignored; SIGCHLD too, which
    // ignored would leave no exit status. The stop signals wait until git's
    // group is known to stopGit; those the tool ignores stay ignored.
    constexpr int kDefaults[] = {SIGPIPE, SIGXFSZ, SIGCHLD};
    struct sigaction byDefault {}, onStop {}, was[6]{};
    byDefault.sa_handler = SIG_DFL;
    onStop.sa_handler = stopGit;
    sigset_t stops, mask;
    sigemptyset(&stops);
    for (const int s : kStopSignals) sigaddset(&stops, s);
    sigprocmask(SIG_BLOCK, &stops, &mask);
    for (int i = 0; i < 3; ++i) sigaction(kDefaults[i], &byDefault, &was[i]);
    for (int i = 0; i < 3; ++i) {
        sigaction(kStopSignals[i], nullptr, &was[3 + i]);
        if (was[3 + i].sa_handler != SIG_IGN) sigaction(kStopSignals[i], &onStop, nullptr);
    }
    // fork, not posix_spawn: the child takes the owner's account before exec.
    const pid_t parent = getpid(), pid = fork();
    if (pid == 0) startGit(c, setup, groups, argv.data(), envp.data(), mask, parent);
    if (pid < 0) {
        run.cause = "git cannot be started: " + std::string(std::strerror(errno));
    } else {
        setpgid(pid, pid);  // so that a kill at once reaches the group too
        runningGroup = pid;
        sigprocmask(SIG_SETMASK, &mask, nullptr);
        for (Descriptor* d : {&c.input, &c.outWrite, &c.errWrite, &c.reportWrite}) d->reset();
        collect(pid, c, setup, run, deadline);
        sigprocmask(SIG_BLOCK, &stops, nullptr);
        runningGroup = 0;
    }
    for (int i = 0; i < 6; ++i) sigaction(i < 3 ? kDefaults[i] : kStopSignals[i - 3], &was[i], nullptr);
    sigprocmask(SIG_SETMASK, &mask, nullptr);
    return run;
}

}  // namespace ventrim::platform
