// End to end: the built tool run as a process, as a build runs it.
#include <dirent.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <ctime>
#include <thread>

#include "tool_runner.h"

namespace {

const std::string kBanner = "Ventrim Rev 1.0 - build stamps for C and C++";

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    const std::string end = eol();
    for (std::size_t at = 0, next; at < text.size(); at = next + end.size()) {
        next = text.find(end, at);
        if (next == std::string::npos) {
            lines.push_back(text.substr(at) + "<no line end>");
            break;
        }
        lines.push_back(text.substr(at, next - at));
    }
    return lines;
}

// Checks the header's fixed lines and shapes; returns its lines.
std::vector<std::string> expectHeader(const std::string& content, const std::string& pathInComment) {
    const auto l = splitLines(content);
    EXPECT_EQ(l.size(), 14u) << content;
    if (l.size() != 14) return l;
    EXPECT_EQ(l[1], " * " + pathInComment + " ");
    EXPECT_EQ(l[6], "#ifndef VENTRIM_H");
    EXPECT_EQ(l[9].size(), std::strlen("#define CODE_GUID {0x00,0x00,0x00,0x00,0x00,0x00,0x00,0x00}"));
    EXPECT_EQ(l[10].size(), std::strlen("#define COMPILE_TIME_DATE_STR \"Fri Nov 03 08:26:40 2023\""));
    EXPECT_EQ(l[11].size(), std::strlen("#define COMPILE_TIME_DATE_INT 0x6553F100"));
    EXPECT_EQ(l[13], "#endif");
    return l;
}

bool isCompleteHeader(const std::string& content) {
    const auto l = splitLines(content);  // a last line without its line end is marked
    return l.size() == 14 && l[0] == "/*" && l[13] == "#endif";
}

std::vector<std::string> listDir(const std::string& dir) {
    std::vector<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (const dirent* e = readdir(d)) {
            if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) names.push_back(e->d_name);
        }
        closedir(d);
    }
    return names;
}

void writeFile(const std::string& path, const std::string& content) {
    std::ofstream(path, std::ios::binary) << content;
}

mode_t modeOf(const std::string& path) {
    struct stat st {};
    stat(path.c_str(), &st);
    return st.st_mode & 07777;
}

}  // namespace

TEST(Cli, WrongArgumentCountPrintsUsageAndArgumentsLiterally) {
    const std::string dir = freshDir("usage");
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{}, std::vector<std::string>{"a%sb.h", "", "-x"}}) {
        const RunResult r = runTool(args, at(dir));
        EXPECT_EQ(r.status, 2);
        auto l = splitLines(r.out);
        ASSERT_EQ(l.size(), 4 + args.size()) << r.out;
        EXPECT_EQ(l[0], kBanner);
        EXPECT_EQ(l[1], "Ventrim <headerFileName>");
        EXPECT_EQ(l[2], "Arguments provided:");
        EXPECT_NE(l[3].find("ventrim"), std::string::npos) << "listing starts with the program path";
        for (std::size_t i = 0; i < args.size(); ++i) EXPECT_EQ(l[4 + i], "- " + args[i]);
    }
    EXPECT_TRUE(listDir(dir).empty());
}

TEST(Cli, WritesTheHeaderAndReplacesAnyEarlierFileCompletely) {
    const std::string dir = freshDir("write");
    // A 300-byte relative path through nested folders, with the platform's separator.
    std::string path, hostPath;
    for (int i = 0; i < 5; ++i) {
        path += std::string(55, static_cast<char>('a' + i)) + (windowsTool() ? "\\" : "/");
        hostPath += std::string(55, static_cast<char>('a' + i)) + "/";
        mkdir((dir + "/" + hostPath).c_str(), 0777);
    }
    path += std::string(300 - path.size() - 2, 'z') + ".h";
    hostPath += path.substr(hostPath.size());
    writeFile(dir + "/" + hostPath, std::string(20000, 'x'));

    const RunResult r = runTool({path}, at(dir));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, kBanner + eol());
    const auto l = expectHeader(readFile(dir + "/" + hostPath), path);
    if (windowsTool() || l.size() != 14) return;
    const passwd* pw = getpwuid(geteuid());
    EXPECT_EQ(l[12], "#define USER_NAME \"" + std::string(pw ? pw->pw_name : std::to_string(geteuid())) + "\"");

    // An id with no account entry, as containers hand out, is named by its number.
    constexpr uid_t kNoAccount = 54321;
    if (geteuid() != 0 || getpwuid(kNoAccount) != nullptr) return;
    ASSERT_EQ(runTool({"anonymous.h"}, at(dir, {}, kNoAccount)).status, 0);
    EXPECT_EQ(expectHeader(readFile(dir + "/anonymous.h"), "anonymous.h")[12], "#define USER_NAME \"54321\"");
}

// Each run: a fresh GUID, and a date text and integer that agree with the clock.
TEST(Cli, StampIsFreshAndAgreesWithTheClockInTheLocalZone) {
    const std::string dir = freshDir("clock");
    std::vector<std::string> guids;
    for (const auto& [tz, offset] : {std::pair<std::string, long>{"UTC0", 0}, {"IST-5:30", 5 * 3600 + 1800}}) {
        const std::time_t before = std::time(nullptr);
        ASSERT_EQ(runTool({"t.h"}, at(dir, {"TZ=" + tz})).status, 0);
        const std::time_t after = std::time(nullptr);
        const auto l = expectHeader(readFile(dir + "/t.h"), "t.h");
        ASSERT_EQ(l.size(), 14u);
        const auto stamp = static_cast<std::time_t>(std::stoul(l[11].substr(l[11].size() - 8), nullptr, 16));
        EXPECT_GE(stamp, before & 0xFFFFFFFF);
        EXPECT_LE(stamp, after & 0xFFFFFFFF);
        const std::time_t shifted = stamp + offset;
        std::tm local{};
        gmtime_r(&shifted, &local);
        char expected[32];
        std::strftime(expected, sizeof expected, "%a %b %d %H:%M:%S %Y", &local);
        EXPECT_EQ(l[10], "#define COMPILE_TIME_DATE_STR \"" + std::string(expected) + "\"") << tz;

        guids.push_back(l[9]);
        const auto byte8 = std::stoul(l[9].substr(std::strlen("#define CODE_GUID {")), nullptr, 16);
        EXPECT_GE(byte8, 0x80u) << l[9];
        EXPECT_LE(byte8, 0xBFu) << l[9];
    }
    EXPECT_NE(guids[0], guids[1]);
}

TEST(Cli, PathsThatCannotBeOpenedAreReportedAndLeftAlone) {
    const std::string dir = freshDir("open");
    mkdir((dir + "/sub").c_str(), 0777);
    mkdir((dir + "/locked").c_str(), 0555);
    writeFile(dir + "/readonly.h", "keep");
    chmod((dir + "/readonly.h").c_str(), 0444);
    struct Case {
        std::string path;
        uid_t uid;
    };
    std::vector<Case> cases{{"missing/x.h", 0}, {"a%sb/x.h", 0}, {"sub", 0}, {"", 0}};
    if (windowsTool()) {
        cases.push_back({"readonly.h", 0});  // the read-only attribute binds every account
    } else {
        cases.insert(cases.end(), {{"sub/", 0}, {"locked/x.h", kNobody}, {"readonly.h", kNobody}});
    }
    for (const Case& c : cases) {
        const RunResult r = runTool({c.path}, at(dir, {}, c.uid));
        EXPECT_EQ(r.status, 1) << c.path;
        EXPECT_EQ(r.out, kBanner + eol() + "Can't open: " + c.path + " " + eol()) << c.path;
    }
    EXPECT_EQ(readFile(dir + "/readonly.h"), "keep");
    EXPECT_EQ(listDir(dir + "/sub").size() + listDir(dir + "/locked").size(), 0u);
}

TEST(Cli, FailedWriteReportsAndKeepsTheOldHeader) {
    const std::string dir = freshDir("full");
    if (!windowsTool()) {
        const RunResult full = runTool({"/dev/full"}, at(dir));
        EXPECT_EQ(full.status, 1);
        EXPECT_EQ(full.out, kBanner + "\nCan't write: /dev/full \n");
    }
    // A file-size limit stands in for a full disk.
    ASSERT_EQ(runTool({"old.h"}, at(dir)).status, 0);
    const std::string old = readFile(dir + "/old.h");
    const RunResult r = runTool({"old.h"}, at(dir, {}, 0, 100));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, kBanner + eol() + "Can't write: old.h " + eol());
    EXPECT_EQ(readFile(dir + "/old.h"), old);
    EXPECT_EQ(listDir(dir), std::vector<std::string>{"old.h"});
}

TEST(Cli, KeepsLinksAndPermissionsAsAPlainCreateWould) {
    if (windowsTool()) GTEST_SKIP() << "POSIX links and permission bits";
    const std::string dir = freshDir("links");
    mkdir((dir + "/real").c_str(), 0777);
    ASSERT_EQ(symlink("real/stamp.h", (dir + "/link.h").c_str()), 0);  // dangling until the first run
    for (int run = 0; run < 2; ++run) ASSERT_EQ(runTool({"link.h"}, at(dir)).status, 0);
    struct stat st {};
    ASSERT_EQ(lstat((dir + "/link.h").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    expectHeader(readFile(dir + "/real/stamp.h"), "link.h");
    EXPECT_EQ(listDir(dir + "/real"), std::vector<std::string>{"stamp.h"});

    RunOptions opt = at(dir);
    opt.umask = 027;
    ASSERT_EQ(runTool({"new.h"}, opt).status, 0);
    EXPECT_EQ(modeOf(dir + "/new.h"), 0640u);
    writeFile(dir + "/kept.h", "");
    chmod((dir + "/kept.h").c_str(), 0604);
    ASSERT_EQ(runTool({"kept.h"}, opt).status, 0);
    EXPECT_EQ(modeOf(dir + "/kept.h"), 0604u);

    // A writable header in a folder we may not add to is still written.
    mkdir((dir + "/fixed").c_str(), 0777);
    writeFile(dir + "/fixed/h.h", "");
    chmod((dir + "/fixed/h.h").c_str(), 0666);
    chmod((dir + "/fixed").c_str(), 0555);
    EXPECT_EQ(runTool({"fixed/h.h"}, at(dir, {}, kNobody)).status, 0);
    expectHeader(readFile(dir + "/fixed/h.h"), "fixed/h.h");
}

TEST(Cli, DevicesAndPipesAreWrittenInPlace) {
    if (windowsTool()) {
        const RunResult nul = runTool({"NUL"});
        EXPECT_EQ(nul.status, 0);
        EXPECT_EQ(nul.out, kBanner + eol());
        return;
    }
    const RunResult r = runTool({"/dev/stdout"});
    EXPECT_EQ(r.status, 0);
    ASSERT_EQ(r.out.rfind(kBanner + "\n", 0), 0u);
    expectHeader(r.out.substr(kBanner.size() + 1), "/dev/stdout");

    const std::string fifo = freshDir("fifo") + "/pipe.h";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0666), 0);
    std::string received;
    std::thread reader([&] { received = readFile(fifo); });
    EXPECT_EQ(runTool({fifo}).status, 0);
    reader.join();
    expectHeader(received, fifo);
}

TEST(Cli, ParallelWritersNeverExposeAPartialHeader) {
    const std::string dir = freshDir("parallel");
    ASSERT_EQ(runTool({"p.h"}, at(dir)).status, 0);
    const int runsEach = windowsTool() ? 4 : 40;
    std::atomic<int> writersLeft{3};
    std::atomic<int> failures{0};
    std::vector<std::thread> writers;
    for (int w = 0; w < 3; ++w) {
        writers.emplace_back([&] {
            for (int i = 0; i < runsEach; ++i) failures += runTool({"p.h"}, at(dir)).status != 0;
            --writersLeft;
        });
    }
    int reads = 0;
    int partial = 0;
    while (writersLeft > 0 || reads == 0) {
        partial += !isCompleteHeader(readFile(dir + "/p.h"));
        ++reads;
        std::this_thread::sleep_for(std::chrono::microseconds(100));  // leave the writers a core
    }
    for (auto& t : writers) t.join();
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(partial, 0) << "of " << reads << " reads";
    EXPECT_EQ(listDir(dir), std::vector<std::string>{"p.h"});
}

// A compiler or virus scanner may hold the header open for a moment, which on
// Windows blocks its replacement: the tool waits for it, but not for long.
TEST(Cli, WaitsBrieflyForAnotherProcessHoldingTheHeader) {
    if (!windowsTool()) GTEST_SKIP() << "only Windows locks an open file against replacement";
    const std::string dir = freshDir("held");
    ASSERT_EQ(runTool({"h.h"}, at(dir)).status, 0);
    std::vector<std::string> holder = toolCommand();
    holder.back() = holder.back().substr(0, holder.back().rfind('/') + 1) + "hold_file.exe";
    holder.push_back("h.h");
    for (const auto& [milliseconds, status] : {std::pair<std::string, int>{"800", 0}, {"4000", 1}}) {
        int fds[2];
        ASSERT_EQ(pipe(fds), 0);
        std::vector<std::string> words = holder;
        words.push_back(milliseconds);
        const pid_t pid = startCommand(words, at(dir), fds[1]);
        close(fds[1]);
        char held[4] = {};
        ASSERT_EQ(read(fds[0], held, sizeof held), 4) << "the holder did not start";
        EXPECT_EQ(runTool({"h.h"}, at(dir)).status, status) << "held for " << milliseconds << " ms";
        EXPECT_EQ(waitTool(pid), 0);
        close(fds[0]);
        EXPECT_TRUE(isCompleteHeader(readFile(dir + "/h.h")));
        EXPECT_EQ(listDir(dir), std::vector<std::string>{"h.h"});
    }
}
