// Runs the built tool as a build would: a child process with its own working
// directory, environment and limits, capturing standard output and the exit
// status. VENTRIM_TOOL holds the command that starts the tool (a launcher such
// as wine may come first); a command ending in ".exe" runs the Windows build.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

struct RunOptions {
    std::string cwd = ".";
    std::vector<std::string> env;  // "NAME=value" added to the inherited ones
    uid_t uid = 0;                 // when running as root and not 0, drop to this uid/gid
    long fileSizeLimit = -1;       // RLIMIT_FSIZE in bytes
    int umask = 022;
};

constexpr uid_t kNobody = 65534;

inline RunOptions at(const std::string& cwd, std::vector<std::string> env = {}, uid_t uid = 0,
                     long fileSizeLimit = -1) {
    RunOptions o;
    o.cwd = cwd;
    o.env = std::move(env);
    o.uid = uid;
    o.fileSizeLimit = fileSizeLimit;
    return o;
}

struct RunResult {
    int status = -1;  // exit status, or 128 + signal
    std::string out;
};

inline std::vector<std::string> toolCommand() {
    std::vector<std::string> words;
    std::istringstream in(std::getenv("VENTRIM_TOOL") ? std::getenv("VENTRIM_TOOL") : "");
    for (std::string w; in >> w;) words.push_back(w);
    return words;
}

inline bool windowsTool() {
    const auto words = toolCommand();
    const std::string exe = ".exe";
    return !words.empty() && words.back().size() > exe.size() &&
           words.back().compare(words.back().size() - exe.size(), exe.size(), exe) == 0;
}

// The line end the tool writes, to standard output and to the header.
inline std::string eol() { return windowsTool() ? "\r\n" : "\n"; }

// Starts words as a child process with standard output on outFd.
inline pid_t startCommand(std::vector<std::string> words, const RunOptions& opt, int outFd) {
    const pid_t pid = fork();
    if (pid != 0) return pid;
    std::vector<char*> argv;
    for (auto& w : words) argv.push_back(&w[0]);
    argv.push_back(nullptr);
    for (const auto& e : opt.env) putenv(const_cast<char*>(e.c_str()));
    dup2(outFd, 1);
    umask(static_cast<mode_t>(opt.umask));
    if (opt.fileSizeLimit >= 0) {
        const rlimit lim{static_cast<rlim_t>(opt.fileSizeLimit), static_cast<rlim_t>(opt.fileSizeLimit)};
        setrlimit(RLIMIT_FSIZE, &lim);
        // Wine would die of the signal; Windows has none, only a failed write.
        if (windowsTool()) signal(SIGXFSZ, SIG_IGN);
    }
    if (opt.uid != 0 && geteuid() == 0 && (setgid(opt.uid) != 0 || setuid(opt.uid) != 0)) _exit(126);
    if (chdir(opt.cwd.c_str()) != 0) _exit(126);
    execvp(argv[0], argv.data());
    _exit(127);
}

inline pid_t startTool(const std::vector<std::string>& args, const RunOptions& opt, int outFd) {
    std::vector<std::string> words = toolCommand();
    words.insert(words.end(), args.begin(), args.end());
    return startCommand(words, opt, outFd);
}

inline int waitTool(pid_t pid) {
    int raw = 0;
    waitpid(pid, &raw, 0);
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
}

inline RunResult runTool(const std::vector<std::string>& args, const RunOptions& opt = {}) {
    int fds[2];
    if (pipe(fds) != 0) return {};
    const pid_t pid = startTool(args, opt, fds[1]);
    close(fds[1]);
    RunResult r;
    char buf[4096];
    for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) > 0;) r.out.append(buf, static_cast<std::size_t>(n));
    close(fds[0]);
    r.status = waitTool(pid);
    return r;
}

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A fresh empty directory, world-writable so that a test may drop privileges.
inline std::string freshDir(const std::string& name) {
    const std::string dir = std::string(std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp") +
                            "/ventrim-test-" + std::to_string(getpid()) + "-" + name;
    std::system(("rm -rf '" + dir + "'").c_str());
    mkdir(dir.c_str(), 0777);
    chmod(dir.c_str(), 0777);
    return dir;
}
