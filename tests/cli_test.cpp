// A build stopped while the temporary file exists leaves a whole header (the
// old one, or the new one if the rename was under way) and no temporary file,
// and the tool ends as the signal would have ended it. The tool is caught
// there by stopping it as soon as the file appears. VENTRIM_TOOL is the tool.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace {

int runTool(const std::string& dir, pid_t* started = nullptr) {
    const pid_t pid = fork();
    if (pid == 0) {
        const rlimit noCore{0, 0};  // SIGQUIT leaves no core file behind
        setrlimit(RLIMIT_CORE, &noCore);
        for (const int s : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) signal(s, SIG_DFL);  // nohup and & ignore some
        const int devNull = open("/dev/null", O_WRONLY);
        dup2(devNull, 1);
        if (chdir(dir.c_str()) == 0) execl(std::getenv("VENTRIM_TOOL"), "ventrim", "s.h", nullptr);
        _exit(127);
    }
    if (started) return *started = pid;
    int raw = 0;
    waitpid(pid, &raw, 0);
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
}

std::vector<std::string> listDir(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir)) names.push_back(e.path().filename());
    return names;
}

bool isCompleteHeader(const std::string& path) {
    std::ifstream in(path);
    std::string line, last;
    int lines = 0;
    for (; std::getline(in, line); ++lines) last = line;
    return lines == 14 && last == "#endif";
}

}  // namespace

TEST(Cli, EndingSignalsLeaveNoTemporaryFile) {
    std::string dir = std::filesystem::temp_directory_path() / "ventrim-signals-XXXXXX";
    ASSERT_TRUE(mkdtemp(&dir[0]));
    const struct Cleanup {
        std::string dir;
        ~Cleanup() { std::filesystem::remove_all(dir); }
    } cleanup{dir};
    ASSERT_EQ(runTool(dir), 0);
    chmod((dir + "/s.h").c_str(), 0640);  // a private header's replacement is never readable by others
    const int watch = inotify_init1(IN_CLOEXEC);
    ASSERT_GE(inotify_add_watch(watch, dir.c_str(), IN_CREATE), 0);
    int caught = 0;
    for (int n = 0; n < 400 && caught < 8; ++n) {
        const int sig = std::vector<int>{SIGINT, SIGTERM, SIGHUP, SIGQUIT}[n % 4];
        pid_t pid = 0;
        runTool(dir, &pid);
        char event[4096];
        pollfd made{watch, POLLIN, 0};
        ASSERT_EQ(poll(&made, 1, 5000), 1) << "no temporary file appeared";
        ASSERT_GT(read(watch, event, sizeof event), 0);
        kill(pid, SIGSTOP);
        const auto names = listDir(dir);
        struct stat temp {};
        for (const auto& name : names) {
            ASSERT_TRUE(name == "s.h" || stat((dir + "/" + name).c_str(), &temp) != 0 || !(temp.st_mode & 0004));
        }
        kill(pid, sig);
        kill(pid, SIGCONT);
        int raw = 0;
        waitpid(pid, &raw, 0);
        caught += names.size() == 2;
        ASSERT_TRUE((WIFSIGNALED(raw) && WTERMSIG(raw) == sig) || (names.size() == 1 && WIFEXITED(raw) && WEXITSTATUS(raw) == 0));
        ASSERT_EQ(listDir(dir), std::vector<std::string>{"s.h"});
        ASSERT_TRUE(isCompleteHeader(dir + "/s.h"));
    }
    EXPECT_GT(caught, 0);
    close(watch);
}
