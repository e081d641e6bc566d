// Runs the built tool as a build would: a child process with its own working
// directory, environment, user and limits, capturing standard output and the
// exit status. VENTRIM_TOOL holds the command that starts the tool (a launcher
// such as wine may come first); a command ending in ".exe" is the Windows build.
//
// Everything a test makes lives in one scratch folder under TMPDIR, removed
// when the test program ends. The native tool is copied there, so that a test
// that drops to another user can start it even when the checkout lies in a
// folder only its owner may enter.
#pragma once

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

constexpr uid_t kNobody = 65534;

struct RunOptions {
    std::string cwd = ".";
    std::vector<std::string> env;  // "NAME=value" added to the inherited ones
    uid_t uid = 0;                 // when running as root and not 0, drop to this uid and gid
    long fileSizeLimit = -1;       // RLIMIT_FSIZE in bytes
    long openFileLimit = -1;       // RLIMIT_NOFILE
    int umask = 022;
    std::string stdoutFile;        // append standard output here instead of capturing it
    bool stdoutClosed = false;     // a pipe whose reader has gone
};

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
    return !words.empty() && words.back().size() > 4 && words.back().substr(words.back().size() - 4) == ".exe";
}

// The line end the tool writes, to standard output and to the header.
inline std::string eol() { return windowsTool() ? "\r\n" : "\n"; }

// The scratch folder of this test program, made on first use, and the
// command that starts the tool from there.
struct Scratch {
    std::string dir;
    std::vector<std::string> tool = toolCommand();

    Scratch() {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/ventrim-test-XXXXXX";
        if (!mkdtemp(&pattern[0])) std::abort();
        dir = pattern;
        chmod(dir.c_str(), 0755);  // other users may enter, not write
        if (!windowsTool() && tool.size() == 1) {
            std::filesystem::copy_file(tool[0], dir + "/ventrim");
            tool[0] = dir + "/ventrim";
        }
    }
    ~Scratch() {
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
    }
};

inline const Scratch& scratch() {
    static const Scratch s;
    return s;
}

// A fresh empty folder in the scratch folder that every user may write.
inline std::string freshDir(const std::string& name) {
    const std::string dir = scratch().dir + "/" + name;
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
    mkdir(dir.c_str(), 0777);
    chmod(dir.c_str(), 0777);
    return dir;
}

// Starts words as a child process with standard output on outFd.
inline pid_t startCommand(std::vector<std::string> words, const RunOptions& opt, int outFd) {
    const pid_t pid = fork();
    if (pid != 0) return pid;
    std::vector<char*> argv;
    for (auto& w : words) argv.push_back(&w[0]);
    argv.push_back(nullptr);
    for (const auto& e : opt.env) putenv(const_cast<char*>(e.c_str()));
    if (!opt.stdoutFile.empty()) outFd = open(opt.stdoutFile.c_str(), O_WRONLY | O_APPEND | O_CREAT, 0644);
    dup2(outFd, 1);
    close_range(3, ~0U, 0);  // nothing of the test's reaches the tool
    umask(static_cast<mode_t>(opt.umask));
    const auto limit = [](int resource, long value) {
        const rlimit lim{static_cast<rlim_t>(value), static_cast<rlim_t>(value)};
        if (value >= 0) setrlimit(resource, &lim);
    };
    limit(RLIMIT_FSIZE, opt.fileSizeLimit);
    limit(RLIMIT_NOFILE, opt.openFileLimit);
    // Wine would die of the signal; Windows has none, only a failed write.
    if (windowsTool()) signal(SIGXFSZ, SIG_IGN);
    if (opt.uid != 0 && geteuid() == 0 && (setgroups(0, nullptr) != 0 || setgid(opt.uid) != 0 || setuid(opt.uid) != 0)) {
        _exit(126);
    }
    if (chdir(opt.cwd.c_str()) != 0) _exit(126);
    execvp(argv[0], argv.data());
    _exit(127);
}

inline int waitTool(pid_t pid) {
    int raw = 0;
    waitpid(pid, &raw, 0);
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
}

// Runs words to the end, capturing standard output.
inline RunResult runCommand(const std::vector<std::string>& words, const RunOptions& opt = {}) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return {};
    if (opt.stdoutClosed) close(fds[0]);
    const pid_t pid = startCommand(words, opt, fds[1]);
    close(fds[1]);
    RunResult r;
    if (!opt.stdoutClosed) {
        char buf[4096];
        for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) > 0;) r.out.append(buf, static_cast<std::size_t>(n));
        close(fds[0]);
    }
    r.status = waitTool(pid);
    return r;
}

inline RunResult runTool(const std::vector<std::string>& args, const RunOptions& opt = {}) {
    std::vector<std::string> words = scratch().tool;
    words.insert(words.end(), args.begin(), args.end());
    return runCommand(words, opt);
}

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}
