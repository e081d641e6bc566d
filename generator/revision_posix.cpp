// Running git on Linux and other POSIX systems.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "revision.h"

extern char** environ;

namespace ventrim::platform {

namespace {

// Of what git writes only the start is kept: the status's headers come
// first, and a message's first line.
constexpr std::size_t kKeptBytes = 1 << 16;

// The runner's environment as passedToGit leaves it, with kGitEnvironment.
std::vector<std::string> gitEnvironment() {
    std::vector<std::string> env(std::begin(kGitEnvironment), std::end(kGitEnvironment));
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
        const std::string_view text = *entry;
        if (passedToGit(text.substr(0, text.find('=')))) env.emplace_back(text);
    }
    return env;
}

std::vector<char*> pointers(std::vector<std::string>& texts) {
    std::vector<char*> out;
    for (std::string& text : texts) out.push_back(&text[0]);
    out.push_back(nullptr);
    return out;
}

// Milliseconds left until deadline, at least 0.
int millisecondsLeft(std::chrono::steady_clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    return left.count() < 0 ? 0 : static_cast<int>(left.count()) + 1;
}

// Reads the two pipes until both end or deadline passes; false then.
bool drain(int out, int err, GitRun& run, std::chrono::steady_clock::time_point deadline) {
    pollfd fds[] = {{out, POLLIN, 0}, {err, POLLIN, 0}};
    std::string* const texts[] = {&run.out, &run.err};
    int open = 2;
    while (open > 0) {
        const int ready = poll(fds, 2, millisecondsLeft(deadline));
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

}  // namespace

GitRun runGit(const FilePath& dir, const std::vector<std::string>& args, std::chrono::steady_clock::time_point deadline) {
    GitRun run;
    std::vector<std::string> argvTexts = {"git", "-C", dir};
    argvTexts.insert(argvTexts.end(), args.begin(), args.end());
    std::vector<std::string> envTexts = gitEnvironment();
    std::vector<char*> argv = pointers(argvTexts), envp = pointers(envTexts);

    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0) return run.cause = std::strerror(errno), run;
    if (pipe2(err, O_CLOEXEC) != 0) {
        run.cause = std::strerror(errno);
        close(out[0]), close(out[1]);
        return run;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
    // A group of its own, so that a kill reaches what it starts; the signals
    // this process ignores (SIGPIPE, SIGXFSZ) as they are by default.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigaddset(&defaults, SIGXFSZ);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF);
    pid_t pid = -1;
    const int spawned = posix_spawnp(&pid, "git", &actions, &attributes, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    close(out[1]), close(err[1]);
    if (spawned != 0) {
        run.cause = spawned == ENOENT ? "git is not found on PATH" : "git cannot be started: " + std::string(std::strerror(spawned));
    } else {
        const bool ended = drain(out[0], err[0], run, deadline);
        // Once its output has ended git is on its way out; it gets until the
        // deadline all the same.
        int status = 0;
        pid_t waited = 0;
        while (ended && (waited = waitpid(pid, &status, WNOHANG)) == 0 && millisecondsLeft(deadline) > 0) usleep(1000);
        if (waited != pid) {
            kill(-pid, SIGKILL);
            waitpid(pid, &status, 0);
            run.outcome = GitRun::Outcome::timedOut;
        } else {
            run.outcome = GitRun::Outcome::exited;
            run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
    }
    close(out[0]), close(err[0]);
    return run;
}

}  // namespace ventrim::platform
