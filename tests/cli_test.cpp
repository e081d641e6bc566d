// End to end: the built tool run as a process, as a build runs it.
//
// Most cases are rows of one table: a shell script that prepares the case's
// folder, the arguments and how the tool is run, the expected status and
// output, and a shell script that checks the files afterwards.
#include <dirent.h>
#include <fnmatch.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <ctime>
#include <random>
#include <thread>

#include "tool_runner.h"

namespace {

const std::string kBanner = "Ventrim Rev 1.0 - build stamps for C and C++";

// Helpers for the shell scripts of the table. $T is a folder of the case's
// own outside the folder the tool writes in.
const std::string kShellHelpers = R"sh(set -e
# header FILE PATH: FILE is a whole stamp header whose comment names PATH.
header() {
  tr -d '\r' < "$1" > "$T/h"
  [ "$(wc -l < "$T/h")" -eq 14 ] && [ "$(sed -n 2p "$T/h")" = " * $2 " ] && [ "$(sed -n 14p "$T/h")" = "#endif" ] ||
    { echo "not the header for $2: $1"; cat "$1"; return 1; }
}
# note FILE / same FILE / replaced FILE: FILE is the same file (inode) as noted, or a new one.
note() { stat -c %i "$1" > "$T/inode"; }
same() { [ "$(stat -c %i "$1")" = "$(cat "$T/inode")" ] || { echo "$1 was replaced"; return 1; }; }
replaced() { [ "$(stat -c %i "$1")" != "$(cat "$T/inode")" ] || { echo "$1 was written in place"; return 1; }; }
# only NAME...: the folder holds exactly these entries.
only() { [ "$(ls -A | tr '\n' ' ')" = "${*:+$* }" ] || { echo "folder holds: $(ls -A)"; return 1; }; }
)sh";

enum Where : unsigned {
    kPosix = 1,    // the Linux build only
    kWindows = 2,  // the Windows build only
    kAll = kPosix | kWindows,
    kRoot = 4,     // needs root (another user, chown, mknod)
};

struct Case {
    std::string name;
    std::string setup;  // sh in the case's folder; "$@" are the arguments
    std::vector<std::string> args;
    RunOptions run;     // cwd is the case's folder
    int status;
    std::string out;    // what follows the banner, '\n' for the line end; '*' matches anything
    std::string check;  // sh in the case's folder, after the run
    unsigned where = kAll;
};

RunOptions as(uid_t uid, long fileSizeLimit = -1) {
    RunOptions o;
    o.uid = uid;
    o.fileSizeLimit = fileSizeLimit;
    return o;
}

std::string withEol(std::string text) {
    if (eol() == "\n") return text;
    std::string out;
    for (const char c : text) out += c == '\n' ? eol() : std::string(1, c);
    return out;
}

// A relative path of the given length: folders of 200 bytes, then "stamp.h".
std::string longPath(std::size_t length) {
    std::string path;
    while (length - path.size() - 8 > 200) path += std::string(199, 'd') + "/";
    return path + std::string(length - path.size() - 8, 'e') + "/stamp.h";
}

const std::string kLongName = std::string(253, 'n') + ".h";  // 255 bytes, the most a name may have
const std::string kNearPathMax = longPath(4090);             // PATH_MAX is 4096 with the terminator
const std::string kUsage = "Ventrim <headerFileName>\nArguments provided:\n- *ventrim*\n";

std::vector<Case> cases() {
    return {
        // The command line.
        {"NoArgument", "", {}, {}, 2, kUsage, "only"},
        {"ArgumentsListedLiterally", "", {"a%sb.h", "", "-x"}, {}, 2, kUsage + "- a%sb.h\n- \n- -x\n", "only"},

        // A header is written, and replaces whatever was there.
        {"NewHeader", "", {"new.h"}, {}, 0, "",
         "header new.h new.h; grep -qx \"#define USER_NAME \\\"$(id -un)\\\"\" new.h; only new.h", kPosix},
        {"UserWithoutAccountEntry", "", {"new.h"}, as(54321), 0, "",
         "getent passwd 54321 || grep -qx '#define USER_NAME \"54321\"' new.h", kPosix | kRoot},
        {"NewHeaderTakesTheUmask", "", {"new.h"}, [] { RunOptions o; o.umask = 027; return o; }(), 0, "",
         "[ $(stat -c %a new.h) = 640 ]", kPosix},
        {"OldFileReplacedCompletely", "mkdir -p \"$(dirname \"$1\")\"; head -c 20000 /dev/zero > \"$1\"; note \"$1\"",
         {"a/b/c/old.h"}, {}, 0, "", "header a/b/c/old.h a/b/c/old.h; replaced a/b/c/old.h; cd a/b/c; only old.h"},
        {"LongestNameGetsATemporaryFile", "touch \"$1\"; note \"$1\"", {kLongName}, {}, 0, "",
         "header " + kLongName + " " + kLongName + "; replaced " + kLongName, kPosix},
        {"PathNearPathMaxGetsATemporaryFile", "mkdir -p \"$(dirname \"$1\")\"; touch \"$1\"; note \"$1\"",
         {kNearPathMax}, {}, 0, "", "replaced " + kNearPathMax, kPosix},
        {"OwnerAndModeKept", "echo old > kept.h; chown 65534:65534 kept.h; chmod 2604 kept.h", {"kept.h"}, {}, 0, "",
         "header kept.h kept.h; [ $(stat -c %u:%g:%a kept.h) = 65534:65534:2604 ]", kPosix | kRoot},
        {"SetIdBitDroppedWithAnOwnerNotKept", "touch g.h; chmod 2666 g.h", {"g.h"}, as(kNobody), 0, "",
         "header g.h g.h; [ $(stat -c %u:%a g.h) = 65534:666 ]", kPosix | kRoot},

        // Links: the file a link points to is replaced, the link kept.
        {"AbsoluteLink", "mkdir real; ln -s \"$PWD/real/stamp.h\" abs.h", {"abs.h"}, {}, 0, "",
         "[ -L abs.h ]; header real/stamp.h abs.h; cd real; only stamp.h", kPosix},
        {"RelativeLinkInASubfolder", "mkdir sub; echo old > sub/stamp.h; ln -s stamp.h sub/rel.h", {"sub/rel.h"}, {},
         0, "", "[ -L sub/rel.h ]; header sub/stamp.h sub/rel.h; cd sub; only rel.h stamp.h", kPosix},
        {"LinkLoop", "ln -s loop.h loop.h", {"loop.h"}, {}, 1, "Can't open: loop.h \n", "[ -L loop.h ]", kPosix},
        {"StandardOutputAsAPipe", "", {"/dev/stdout"}, {}, 0, "/\\*\n * /dev/stdout \n*#endif\n", "only", kPosix},
        {"StandardOutputToALongPath", "mkdir -p \"$(dirname \"$T/" + longPath(600) + "\")\"", {"/dev/stdout"},
         [] { RunOptions o; o.stdoutFile = "$T/" + longPath(600); return o; }(), 0, "",
         "header \"$T/" + longPath(600) + "\" /dev/stdout", kPosix},

        // Paths that cannot be opened are reported and left alone.
        {"MissingFolder", "", {"missing/x.h"}, {}, 1, "Can't open: missing/x.h \n", "only"},
        {"PercentPrintedLiterally", "", {"a%sb/x.h"}, {}, 1, "Can't open: a%sb/x.h \n", "only"},
        {"AFolder", "mkdir sub", {"sub"}, {}, 1, "Can't open: sub \n", "cd sub; only"},
        {"AFolderWithASlash", "mkdir sub", {"sub/"}, {}, 1, "Can't open: sub/ \n", "cd sub; only", kPosix},
        {"EmptyPath", "", {""}, {}, 1, "Can't open:  \n", "only"},
        {"ReadOnlyHeader", "echo keep > ro.h; chmod 444 ro.h", {"ro.h"}, as(kNobody), 1, "Can't open: ro.h \n",
         "[ $(cat ro.h) = keep ]; only ro.h", kPosix | kRoot},
        {"ReadOnlyAttribute", "echo keep > ro.h; chmod 444 ro.h", {"ro.h"}, {}, 1, "Can't open: ro.h \n",
         "[ $(cat ro.h) = keep ]", kWindows},
        {"LockedFolder", "mkdir -m 555 locked", {"locked/x.h"}, as(kNobody), 1, "Can't open: locked/x.h \n",
         "cd locked; only", kPosix | kRoot},

        // Where the folder takes no new entry, a writable header is rewritten
        // in place, and a failed write leaves it as it was.
        {"WritableHeaderInALockedFolder", "mkdir fixed; echo old > fixed/h.h; chmod 666 fixed/h.h; chmod 555 fixed; note fixed/h.h",
         {"fixed/h.h"}, as(kNobody), 0, "", "header fixed/h.h fixed/h.h; same fixed/h.h; cd fixed; only h.h",
         kPosix | kRoot},
        {"AnotherUsersHeaderInAStickyFolder", "mkdir -m 1777 t; seq 1000 > t/h.h; chmod 666 t/h.h; note t/h.h", {"t/h.h"},
         as(kNobody), 0, "", "header t/h.h t/h.h; same t/h.h; [ $(stat -c %u t/h.h) = 0 ]; cd t; only h.h",
         kPosix | kRoot},
        {"FailedWriteInPlaceKeepsTheOldHeader", "mkdir fixed; echo old > fixed/h.h; chmod 666 fixed/h.h; chmod 555 fixed",
         {"fixed/h.h"}, as(kNobody, 100), 1, "Can't write: fixed/h.h \n", "[ \"$(cat fixed/h.h)\" = old ]",
         kPosix | kRoot},

        // Any other failure: "Can't write", the old header as it was, no temporary file.
        {"SizeLimit", "echo old > h.h", {"h.h"}, as(0, 100), 1, "Can't write: h.h \n", "[ $(cat h.h) = old ]; only h.h"},
        {"TooManyOpenFiles", "echo old > h.h", {"h.h"}, [] { RunOptions o; o.openFileLimit = 5; return o; }(), 1,
         "Can't write: h.h \n", "[ $(cat h.h) = old ]; only h.h", kPosix},
        // As root, a device node of the test's own: never the machine's /dev/full.
        {"FullDevice", "if [ $(id -u) = 0 ]; then mknod full c 1 7; else ln -s /dev/full full; fi", {"full"}, {}, 1,
         "Can't write: full \n", "", kPosix},
        {"NulDevice", "", {"NUL"}, {}, 0, "", "only", kWindows},

        // Standard output is a report: the header is written without it.
        {"StandardOutputClosed", "", {"h.h"}, [] { RunOptions o; o.stdoutClosed = true; return o; }(), 0, "",
         "header h.h h.h", kPosix},
        {"StandardOutputOverASizeLimit", "head -c 1000 /dev/zero > \"$T/out\"", {"h.h"},
         [] { RunOptions o; o.stdoutFile = "$T/out"; o.fileSizeLimit = 1000; return o; }(), 0, "",
         "header h.h h.h; [ $(stat -c %s \"$T/out\") = 1000 ]", kPosix},
    };
}

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class Row : public ::testing::TestWithParam<Case> {};

// Runs a script of the table: sh -c script sh args..., in dir, with $T set.
void shell(const std::string& what, const std::string& script, const std::string& dir, const std::string& notes,
           const std::vector<std::string>& args) {
    if (script.empty()) return;
    std::vector<std::string> words{"sh", "-c", kShellHelpers + script, "sh"};
    words.insert(words.end(), args.begin(), args.end());
    RunOptions opt;
    opt.cwd = dir;
    opt.env = {"T=" + notes};
    const RunResult r = runCommand(words, opt);
    EXPECT_EQ(r.status, 0) << what << ": " << script << "\n" << r.out;
}

std::string replaceAll(std::string text, const std::string& from, const std::string& to) {
    for (auto at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
    return text;
}

TEST_P(Row, Run) {
    const Case& c = GetParam();
    if (!(c.where & (windowsTool() ? kWindows : kPosix))) GTEST_SKIP() << "not for this build";
    if ((c.where & kRoot) && geteuid() != 0) GTEST_SKIP() << "needs root";
    const std::string dir = freshDir(c.name);
    const std::string notes = freshDir(c.name + ".notes");
    shell("setup", c.setup, dir, notes, c.args);

    RunOptions opt = c.run;
    opt.cwd = dir;
    opt.stdoutFile = replaceAll(opt.stdoutFile, "$T", notes);
    const RunResult r = runTool(c.args, opt);
    EXPECT_EQ(r.status, c.status);
    const std::string expected = withEol(kBanner + "\n" + c.out);
    if (opt.stdoutFile.empty() && !opt.stdoutClosed) {
        EXPECT_EQ(fnmatch(expected.c_str(), r.out.c_str(), 0), 0) << "expected:\n" << expected << "\ngot:\n" << r.out;
    }
    shell("check", c.check, dir, notes, c.args);
}

INSTANTIATE_TEST_SUITE_P(Cli, Row, ::testing::ValuesIn(cases()),
                         [](const ::testing::TestParamInfo<Case>& info) { return info.param.name; });

std::vector<std::string> headerLines(const std::string& content) {
    std::vector<std::string> lines;
    std::istringstream in(content);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

std::vector<std::string> listDir(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir)) names.push_back(e.path().filename());
    return names;
}

bool isCompleteHeader(const std::string& content) {
    const auto l = headerLines(content);
    return l.size() == 14 && l[0] == "/*" && l[13] == "#endif" && content.size() > 1 && content.back() == '\n';
}

// Each run: a fresh GUID, and a date text and integer that agree with the clock.
TEST(Cli, StampIsFreshAndAgreesWithTheClockInTheLocalZone) {
    const std::string dir = freshDir("clock");
    std::vector<std::string> guids;
    for (const auto& [tz, offset] : {std::pair<std::string, long>{"UTC0", 0}, {"IST-5:30", 5 * 3600 + 1800}}) {
        RunOptions opt;
        opt.cwd = dir;
        opt.env = {"TZ=" + tz};
        const std::time_t before = std::time(nullptr);
        ASSERT_EQ(runTool({"t.h"}, opt).status, 0);
        const std::time_t after = std::time(nullptr);
        const auto l = headerLines(readFile(dir + "/t.h"));
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

TEST(Cli, ParallelWritersNeverExposeAPartialHeader) {
    const std::string dir = freshDir("parallel");
    RunOptions opt;
    opt.cwd = dir;
    ASSERT_EQ(runTool({"p.h"}, opt).status, 0);
    const int runsEach = windowsTool() ? 4 : 40;
    std::atomic<int> writersLeft{3};
    std::atomic<int> failures{0};
    std::vector<std::thread> writers;
    for (int w = 0; w < 3; ++w) {
        writers.emplace_back([&] {
            for (int i = 0; i < runsEach; ++i) failures += runTool({"p.h"}, opt).status != 0;
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

// A build stopped at any moment leaves the old header or the new one, and no
// temporary file; the tool ends as the signal would have ended it.
TEST(Cli, EndingSignalsLeaveNoTemporaryFile) {
    if (windowsTool()) GTEST_SKIP() << "POSIX signals";
    const std::string dir = freshDir("signals");
    RunOptions opt;
    opt.cwd = dir;
    ASSERT_EQ(runTool({"s.h"}, opt).status, 0);
    std::mt19937 random(12345);
    const int signals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
    const int devNull = open("/dev/null", O_WRONLY | O_CLOEXEC);
    int ended = 0;
    for (int run = 0; run < 600; ++run) {
        const int sig = signals[run % 4];
        std::vector<std::string> words = scratch().tool;
        words.push_back("s.h");
        const pid_t pid = startCommand(words, opt, devNull);
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 1500));
        kill(pid, sig);
        const int status = waitTool(pid);
        ASSERT_TRUE(status == 0 || status == 128 + sig) << "status " << status;
        ended += status != 0;
    }
    close(devNull);
    EXPECT_GT(ended, 0);
    EXPECT_EQ(listDir(dir), std::vector<std::string>{"s.h"});
    EXPECT_TRUE(isCompleteHeader(readFile(dir + "/s.h")));
}

// A user who controls the folder points the header, through a /proc link to a
// deleted file of theirs, at a name that links to a root-only file. A root run
// must neither replace that file nor hand it over.
TEST(Cli, RootRunInAHostileFolderHandsNoFileOver) {
    if (windowsTool()) GTEST_SKIP() << "POSIX owners and /proc";
    if (geteuid() != 0) GTEST_SKIP() << "needs root to act as two users";
    const std::string evil = freshDir("hostile");
    const std::string safe = freshDir("victim");
    chmod(safe.c_str(), 0755);
    const std::string victim = safe + "/secret.h";
    std::ofstream(victim) << "secret";
    chmod(victim.c_str(), 0600);
    ASSERT_EQ(chown(evil.c_str(), kNobody, kNobody), 0);

    int ready[2];
    ASSERT_EQ(pipe2(ready, O_CLOEXEC), 0);
    const std::string script = "exec 3> f; chmod 666 f; rm f; ln -s /proc/$$/fd/3 stamp.h; ln -s '" + victim +
                               "' 'f (deleted)'; echo ready; exec sleep 30";
    RunOptions attacker;
    attacker.cwd = evil;
    attacker.uid = kNobody;
    const pid_t pid = startCommand({"sh", "-c", script}, attacker, ready[1]);
    close(ready[1]);
    char word[6] = {};
    ASSERT_EQ(read(ready[0], word, 6), 6) << "the attacker did not get ready";
    close(ready[0]);

    const RunResult r = runTool({evil + "/stamp.h"});
    kill(pid, SIGKILL);
    waitTool(pid);
    EXPECT_EQ(r.status, 0);
    struct stat st {};
    ASSERT_EQ(stat(victim.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 0u);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    EXPECT_EQ(readFile(victim), "secret");
}

// A compiler or virus scanner may hold the header open for a moment, which on
// Windows blocks its replacement: the tool waits for it, but not for long.
TEST(Cli, WaitsBrieflyForAnotherProcessHoldingTheHeader) {
    if (!windowsTool()) GTEST_SKIP() << "only Windows locks an open file against replacement";
    const std::string dir = freshDir("held");
    RunOptions opt;
    opt.cwd = dir;
    ASSERT_EQ(runTool({"h.h"}, opt).status, 0);
    std::vector<std::string> holder = scratch().tool;
    holder.back() = holder.back().substr(0, holder.back().rfind('/') + 1) + "hold_file.exe";
    holder.push_back("h.h");
    for (const auto& [milliseconds, status] : {std::pair<std::string, int>{"800", 0}, {"4000", 1}}) {
        int fds[2];
        ASSERT_EQ(pipe2(fds, O_CLOEXEC), 0);
        std::vector<std::string> words = holder;
        words.push_back(milliseconds);
        const pid_t pid = startCommand(words, opt, fds[1]);
        close(fds[1]);
        char held[4] = {};
        ASSERT_EQ(read(fds[0], held, sizeof held), 4) << "the holder did not start";
        EXPECT_EQ(runTool({"h.h"}, opt).status, status) << "held for " << milliseconds << " ms";
        EXPECT_EQ(waitTool(pid), 0);
        close(fds[0]);
        EXPECT_TRUE(isCompleteHeader(readFile(dir + "/h.h")));
        EXPECT_EQ(listDir(dir), std::vector<std::string>{"h.h"});
    }
}

}  // namespace
