// A build stopped by any signal that ends a process while the temporary file
// exists leaves a whole header, old or new, no temporary file, and the status
// of the signal. The tool (VENTRIM_TOOL)
// is caught there by stopping it as soon as inotify reports the file.
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
#include <memory>
#include <vector>

namespace fs = std::filesystem;

TEST(Interrupted, EndingSignalsLeaveNoTemporaryFile) {
    std::string dir = fs::temp_directory_path() / "ventrim-signals-XXXXXX";
    ASSERT_TRUE(mkdtemp(&dir[0]));
    const auto removeAll = [](std::string* d) { fs::remove_all(*d); };
    const std::unique_ptr<std::string, decltype(removeAll)> cleanup(&dir, removeAll);
    const std::vector<int> signals = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2,
                                      SIGALRM, SIGVTALRM, SIGPROF, SIGXCPU, SIGSYS, SIGRTMIN};
    const auto start = [&] {
        const pid_t pid = fork();
        if (pid != 0) return pid;
        const rlimit noCore{0, 0};  // SIGQUIT leaves no core file behind
        setrlimit(RLIMIT_CORE, &noCore);
        for (const int s : signals) signal(s, SIG_DFL);  // nohup and & ignore some
        dup2(open("/dev/null", O_WRONLY), 1);
        if (chdir(dir.c_str()) == 0) execl(std::getenv("VENTRIM_TOOL"), "ventrim", "s.h", nullptr);
        _exit(127);
    };
    const auto entries = [&] { return std::distance(fs::directory_iterator(dir), fs::directory_iterator()); };
    int raw = 0;
    waitpid(start(), &raw, 0);
    ASSERT_EQ(raw, 0);
    chmod((dir + "/s.h").c_str(), 0640);  // a private header's replacement is never readable by others
    const int watch = inotify_init1(IN_CLOEXEC);
    ASSERT_GE(inotify_add_watch(watch, dir.c_str(), IN_CREATE), 0);
    int caught = 0;
    for (std::size_t n = 0; n < 100 * signals.size() && caught < 24; ++n) {
        const int sig = signals[n % signals.size()];
        const pid_t pid = start();
        char event[4096];
        pollfd made{watch, POLLIN, 0};
        ASSERT_EQ(poll(&made, 1, 5000), 1) << "no temporary file appeared";
        ASSERT_GT(read(watch, event, sizeof event), 0);
        kill(pid, SIGSTOP);
        const bool inTime = entries() == 2;
        bool readable = false;
        for (const auto& e : fs::directory_iterator(dir)) {
            readable |= (e.status().permissions() & fs::perms::others_read) != fs::perms::none;
        }
        kill(pid, sig);
        kill(pid, SIGCONT);
        waitpid(pid, &raw, 0);
        caught += inTime;
        ASSERT_FALSE(readable) << "the temporary file was readable by others";
        ASSERT_TRUE((WIFSIGNALED(raw) && WTERMSIG(raw) == sig) || (!inTime && raw == 0));
        ASSERT_EQ(entries(), 1) << "a temporary file was left";
        std::ifstream header(dir + "/s.h");
        std::string line, last;
        int lines = 0;
        for (; std::getline(header, line); ++lines) last = line;
        ASSERT_TRUE(lines == 14 && last == "#endif") << "a partial header";
    }
    EXPECT_GT(caught, 0);
    close(watch);
}
