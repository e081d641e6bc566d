// End to end: the built tool run as a process, as a build runs it. Most cases
// are rows of one table: a shell script that prepares the case's folder and how
// the tool is started (limits, user, umask, zone), the arguments, the expected
// status and output, and a shell script that checks the files afterwards.
//
// VENTRIM_TOOL is the command that starts the tool (wine may come first; one
// ending in ".exe" is the Windows build). All a test makes lives in a scratch
// folder under TMPDIR, removed when the test program ends. The native tool is
// copied there, so that a case run as another user can start it even from a
// checkout in a folder only its owner may enter.
#include <fcntl.h>
#include <fnmatch.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace {

const std::string kToolCommand = std::getenv("VENTRIM_TOOL") ? std::getenv("VENTRIM_TOOL") : "";
const bool kWindows = kToolCommand.size() > 4 && kToolCommand.substr(kToolCommand.size() - 4) == ".exe";
const std::string kEol = kWindows ? "\r\n" : "\n";

struct Scratch {
    std::string dir;
    std::vector<std::string> tool;
    Scratch() {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/ventrim-test-XXXXXX";
        if (!mkdtemp(&pattern[0])) std::abort();
        dir = pattern;
        chmod(dir.c_str(), 0755);
        std::istringstream words(kToolCommand);
        for (std::string w; words >> w;) tool.push_back(w);
        if (!kWindows && tool.size() == 1) {
            std::filesystem::copy_file(tool[0], dir + "/ventrim");
            tool[0] = dir + "/ventrim";
        }
    }
    ~Scratch() { std::filesystem::remove_all(dir); }
};

const Scratch& scratch() {
    static const Scratch s;
    return s;
}

// A fresh empty folder in the scratch folder that every user may write.
std::string freshDir(const std::string& name) {
    const std::string dir = scratch().dir + "/" + name;
    std::filesystem::remove_all(dir);
    mkdir(dir.c_str(), 0777);
    chmod(dir.c_str(), 0777);
    return dir;
}

pid_t start(std::vector<std::string> argv, const std::string& cwd, const std::vector<std::string>& env, int out) {
    const pid_t pid = fork();
    if (pid != 0) return pid;
    std::vector<char*> args;
    for (auto& a : argv) args.push_back(&a[0]);
    args.push_back(nullptr);
    for (const auto& e : env) putenv(const_cast<char*>(e.c_str()));
    dup2(out, 1);
    close_range(3, ~0U, 0);
    const rlimit noCore{0, 0};  // SIGQUIT leaves no core file behind
    setrlimit(RLIMIT_CORE, &noCore);
    for (const int s : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) signal(s, SIG_DFL);  // nohup and & ignore some
    if (chdir(cwd.c_str()) == 0) execvp(args[0], args.data());
    _exit(127);
}

int finish(pid_t pid) {
    int raw = 0;
    waitpid(pid, &raw, 0);
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
}

struct Result {
    int status = -1;  // exit status, or 128 + signal
    std::string out;
};

Result run(const std::vector<std::string>& argv, const std::string& cwd, const std::vector<std::string>& env = {}) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return {};
    const pid_t pid = start(argv, cwd, env, fds[1]);
    close(fds[1]);
    Result r;
    char buf[4096];
    for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) > 0;) r.out.append(buf, n);
    close(fds[0]);
    r.status = finish(pid);
    return r;
}

std::vector<std::string> toolWith(std::vector<std::string> args) {
    args.insert(args.begin(), scratch().tool.begin(), scratch().tool.end());
    return args;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool isCompleteHeader(const std::string& text) {
    return text.rfind("/*" + kEol, 0) == 0 && text.size() > 8 &&
           text.compare(text.size() - 6 - kEol.size(), std::string::npos, "#endif" + kEol) == 0;
}

// For the scripts of the table. $T is a folder of the case's own beside the one
// the tool writes in, $TOOL the command that starts the tool, $AS what starts
// it as another user.
const std::string kShellHelpers = R"sh(set -e
AS= nobody="setpriv --reuid=65534 --regid=65534 --clear-groups"
[ -z "$W" ] || trap '' XFSZ  # Windows has no such signal, only a failed write
# header FILE PATH: FILE is a whole stamp header whose comment names PATH.
header() {
  tr -d '\r' < "$1" > "$T/h"
  [ "$(wc -l < "$T/h")" -eq 14 ] && [ "$(sed -n 2p "$T/h")" = " * $2 " ] && [ "$(sed -n 14p "$T/h")" = "#endif" ] ||
    { echo "not the header for $2: $1"; cat "$1"; return 1; }
}
# note FILE, then same FILE or replaced FILE: the file noted, or a new one.
note() { stat -c %i "$1" > "$T/inode"; }
same() { [ "$(stat -c %i "$1")" = "$(cat "$T/inode")" ] || { echo "$1 was replaced"; return 1; }; }
replaced() { [ "$(stat -c %i "$1")" != "$(cat "$T/inode")" ] || { echo "$1 was written in place"; return 1; }; }
# only NAME...: the folder holds exactly these entries.
only() { [ "$(ls -A | tr '\n' ' ')" = "${*:+$* }" ] || { echo "folder holds: $(ls -A)"; return 1; }; }
# clock ZONE: t.h carries the time of the run in ZONE and a new GUID with the variant bits.
clock() {
  t=$((0x$(sed -n 's/^#define COMPILE_TIME_DATE_INT 0x\([0-9A-F]*\).*/\1/p' t.h)))
  [ $t -ge $(cat "$T/before") ] && [ $t -le $(date +%s) ] || { echo "clock $t out of range"; return 1; }
  grep -q "^#define COMPILE_TIME_DATE_STR \"$(TZ=$1 date -d @$t '+%a %b %d %H:%M:%S %Y')\"" t.h
  grep -Eq '^#define CODE_GUID \{0x[89AB][0-9A-F],' t.h
  [ "$(grep CODE_GUID t.h)" != "$(grep CODE_GUID first.h)" ]
}
)sh";

// kMount: run in a mount namespace of the case's own, so that a mount it makes
// leaves the machine as it was.
enum Where : unsigned { kPosix = 1, kWindowsOnly = 2, kAll = 3, kRoot = 4, kMount = 8 };

struct Case {
    std::string name;
    std::string before;  // sh in the case's folder, then the tool takes its place; "$@" are the arguments
    std::vector<std::string> args;
    int status;
    std::string out;     // all of standard output, '\n' for the line end; '*' matches anything
    std::string check;   // sh in the case's folder, after the run
    unsigned where = kAll;
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

// A relative path of the given length: folders of 200 bytes, then a name.
std::string longPath(std::size_t length, std::size_t nameLength) {
    std::string path;
    while (length - path.size() - nameLength - 1 > 200) path += std::string(199, 'd') + "/";
    return path + std::string(length - path.size() - nameLength - 1, 'e') + "/" + std::string(nameLength, 'n');
}

const std::string kOk = "Ventrim Rev 1.0 - build stamps for C and C++\n";
const std::string kUsage = kOk + "Ventrim <headerFileName>\nArguments provided:\n- *ventrim*\n";
std::string cantOpen(const std::string& path) { return kOk + "Can't open: " + path + " \n"; }
std::string cantWrite(const std::string& path) { return kOk + "Can't write: " + path + " \n"; }

const std::string kStdoutFile = "\"$T/" + longPath(600, 8) + "\"";
const std::string kFirstRun = "date +%s > \"$T/before\"; $TOOL first.h > /dev/null; export TZ=IST-5:30";
const std::string kLockedFolder = "mkdir fixed; echo old > fixed/h.h; chmod 666 fixed/h.h; chmod 555 fixed; AS=$nobody";
const std::string kHold = "echo old > h.h; ${TOOL%ventrim.exe*}hold_file.exe h.h";
const std::string kHeld = " > \"$T/held\" & while [ ! -s \"$T/held\" ]; do sleep 0.05; done";
const std::string kAttack =  // a deleted file of nobody's, and a link named as /proc names it
    "mkdir -m 755 safe; echo secret > safe/secret.h; chmod 600 safe/secret.h; mkdir evil; chown 65534:65534 evil\n"
    "$nobody sh -c 'cd evil; exec 3> f; chmod 666 f; rm f\n"
    "  ln -s /proc/$$/fd/3 stamp.h; ln -s \"$0/safe/secret.h\" \"f (deleted)\"; exec sleep 30' \"$PWD\" >/dev/null 2>&1 &\n"
    "echo $! > \"$T/attacker\"; while [ ! -L 'evil/f (deleted)' ]; do sleep 0.01; done";

const Case kCases[] = {
    // The command line.
    {"NoArgument", "", {}, 2, kUsage, "only"},
    {"ArgumentsListedLiterally", "", {"a%sb.h", "", "-x"}, 2, kUsage + "- a%sb.h\n- \n- -x\n", "only"},

    // A header is written, stamped afresh, and replaces whatever was there.
    {"NewHeader", "umask 027", {"new.h"}, 0, kOk,
     "header new.h new.h; [ $(stat -c %a new.h) = 640 ]; grep -qx \"#define USER_NAME \\\"$(id -un)\\\"\" new.h; only new.h",
     kPosix},
    {"StampedAfreshInAHalfHourZone", kFirstRun, {"t.h"}, 0, kOk, "clock IST-5:30"},
    {"UserWithoutAccountEntry", "AS=\"setpriv --reuid=54321 --regid=54321 --clear-groups\"", {"new.h"}, 0, kOk,
     "getent passwd 54321 || grep -qx '#define USER_NAME \"54321\"' new.h", kPosix | kRoot},
    {"OldFileReplacedCompletely", "mkdir -p a/b/c; head -c 20000 /dev/zero > \"$1\"; note \"$1\"", {"a/b/c/old.h"},
     0, kOk, "header a/b/c/old.h a/b/c/old.h; replaced a/b/c/old.h; cd a/b/c; only old.h"},
    {"LongestNameGetsATemporaryFile", "touch \"$1\"; note \"$1\"", {std::string(255, 'n')}, 0, kOk,
     "replaced \"$1\"", kPosix},
    {"PathNearPathMaxGetsATemporaryFile", "mkdir -p \"$(dirname \"$1\")\"; touch \"$1\"; note \"$1\"",
     {longPath(4090, 8)}, 0, kOk, "replaced \"$1\"", kPosix},
    {"OwnerAndModeKept", "echo old > kept.h; chown 65534:65534 kept.h; chmod 2604 kept.h", {"kept.h"}, 0, kOk,
     "header kept.h kept.h; [ $(stat -c %u:%g:%a kept.h) = 65534:65534:2604 ]", kPosix | kRoot},
    {"SetIdBitDroppedWithAnOwnerNotKept", "touch g.h; chmod 2666 g.h; AS=$nobody", {"g.h"}, 0, kOk,
     "header g.h g.h; [ $(stat -c %u:%a g.h) = 65534:666 ]", kPosix | kRoot},

    // Links: the file a link points to is replaced, the link kept.
    {"AbsoluteLink", "mkdir real; ln -s \"$PWD/real/stamp.h\" abs.h", {"abs.h"}, 0, kOk,
     "[ -L abs.h ]; header real/stamp.h abs.h; cd real; only stamp.h", kPosix},
    {"RelativeLinkInASubfolder", "mkdir sub; echo old > sub/stamp.h; ln -s stamp.h sub/rel.h", {"sub/rel.h"}, 0,
     kOk, "[ -L sub/rel.h ]; header sub/stamp.h sub/rel.h; cd sub; only rel.h stamp.h", kPosix},
    {"LinkLoop", "ln -s loop.h loop.h", {"loop.h"}, 1, cantOpen("loop.h"), "[ -L loop.h ]", kPosix},
    {"StandardOutputAsAPipe", "", {"/dev/stdout"}, 0, kOk + "/\\*\n * /dev/stdout \n*#endif\n", "only", kPosix},
    {"StandardOutputToALongPath", "mkdir -p \"$(dirname " + kStdoutFile + ")\"; exec > " + kStdoutFile,
     {"/dev/stdout"}, 0, "", "header " + kStdoutFile + " /dev/stdout", kPosix},
    // The tool inherits fd 3 of a deleted file: no file named as /proc names it is made.
    {"LinkToADeletedFile", "exec 3> f; rm f; ln -s /proc/$$/fd/3 stamp.h", {"stamp.h"}, 0, kOk, "only stamp.h", kPosix},
    {"RootRunInAHostileFolderHandsNoFileOver", kAttack, {"evil/stamp.h"}, 0, kOk,
     "kill $(cat \"$T/attacker\"); [ $(stat -c %u:%a safe/secret.h) = 0:600 ]; [ $(cat safe/secret.h) = secret ]",
     kPosix | kRoot},

    // Paths that cannot be opened are reported and left alone.
    {"MissingFolderPrintedLiterally", "", {"a%sb/x.h"}, 1, cantOpen("a%sb/x.h"), "only"},
    {"AFolder", "mkdir sub", {"sub"}, 1, cantOpen("sub"), "cd sub; only"},
    {"EmptyPath", "", {""}, 1, cantOpen(""), "only"},
    {"ReadOnlyHeader", "echo keep > ro.h; chmod 444 ro.h; AS=$nobody", {"ro.h"}, 1, cantOpen("ro.h"),
     "[ $(cat ro.h) = keep ]; only ro.h", kPosix | kRoot},
    {"ReadOnlyAttribute", "echo keep > ro.h; chmod 444 ro.h", {"ro.h"}, 1, cantOpen("ro.h"), "[ $(cat ro.h) = keep ]",
     kWindowsOnly},
    {"LockedFolder", "mkdir -m 555 locked; AS=$nobody", {"locked/x.h"}, 1, cantOpen("locked/x.h"), "cd locked; only",
     kPosix | kRoot},

    // Where the folder takes no new entry, a writable header is rewritten in
    // place, and a failed write leaves it as it was.
    {"WritableHeaderInALockedFolder", kLockedFolder + "; note fixed/h.h", {"fixed/h.h"}, 0, kOk,
     "header fixed/h.h fixed/h.h; same fixed/h.h; cd fixed; only h.h", kPosix | kRoot},
    {"AnotherUsersHeaderInAStickyFolder", "mkdir -m 1777 t; seq 1000 > t/h.h; chmod 666 t/h.h; note t/h.h; AS=$nobody",
     {"t/h.h"}, 0, kOk, "header t/h.h t/h.h; same t/h.h; [ $(stat -c %u t/h.h) = 0 ]; cd t; only h.h", kPosix | kRoot},
    {"HeaderMountedOnItsOwn", "echo old > h.h; note h.h; mount --bind h.h h.h", {"h.h"}, 0, kOk,
     "header h.h h.h; same h.h; only h.h", kPosix | kRoot | kMount},
    {"FailedWriteInPlaceKeepsTheOldHeader", kLockedFolder + "; ulimit -f 0", {"fixed/h.h"}, 1, cantWrite("fixed/h.h"),
     "[ $(cat fixed/h.h) = old ]", kPosix | kRoot},

    // Any other failure: "Can't write", the old header as it was, no temporary file.
    {"SizeLimit", "echo old > h.h; ulimit -f 0", {"h.h"}, 1, cantWrite("h.h"), "[ $(cat h.h) = old ]; only h.h"},
    {"TooManyOpenFiles", "echo old > h.h; ulimit -n 5", {"h.h"}, 1, cantWrite("h.h"), "[ $(cat h.h) = old ]; only h.h",
     kPosix},
    // As root, a device node of the test's own: never the machine's /dev/full.
    {"FullDevice", "if [ $(id -u) = 0 ]; then mknod full c 1 7; else ln -s /dev/full full; fi", {"full"}, 1,
     cantWrite("full"), "", kPosix},
    {"NulDevice", "", {"NUL"}, 0, kOk, "only", kWindowsOnly},

    // A compiler or virus scanner may hold the header open for a moment, which
    // on Windows blocks its replacement: the tool waits for it, not for long.
    {"HeldBrieflyByAnotherProcess", kHold + " 800" + kHeld, {"h.h"}, 0, kOk, "header h.h h.h; only h.h", kWindowsOnly},
    {"HeldLongByAnotherProcess", kHold + " 4000" + kHeld, {"h.h"}, 1, cantWrite("h.h"), "[ $(cat h.h) = old ]; only h.h",
     kWindowsOnly},

    // Standard output is a report: the header is written without it.
    {"StandardOutputWithoutReader", "mkfifo \"$T/p\"; exec 3<> \"$T/p\" > \"$T/p\" 3<&-", {"h.h"}, 0, "",
     "header h.h h.h", kPosix},
    {"StandardOutputOverASizeLimit", "head -c 512 /dev/zero > \"$T/out\"; exec >> \"$T/out\"; ulimit -f 1", {"h.h"}, 0,
     "", "header h.h h.h; [ $(stat -c %s \"$T/out\") = 512 ]", kPosix},
};

class Row : public ::testing::TestWithParam<Case> {};

TEST_P(Row, Run) {
    const Case& c = GetParam();
    if (!(c.where & (kWindows ? kWindowsOnly : kPosix))) GTEST_SKIP() << "not for this build";
    if ((c.where & kRoot) && geteuid() != 0) GTEST_SKIP() << "needs root";
    const std::string dir = freshDir(c.name);
    std::string tool = "TOOL=";
    for (const auto& w : scratch().tool) tool += w + " ";
    const std::vector<std::string> env{tool, "T=" + freshDir(c.name + ".notes"), kWindows ? "W=1" : "W="};
    const auto sh = [&](const std::string& script) {
        std::vector<std::string> argv{"sh", "-c", kShellHelpers + script, "sh"};
        if (c.where & kMount) argv.insert(argv.begin(), {"unshare", "-m"});
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        return run(argv, dir, env);
    };
    const Result r = sh(c.before + "\nexec $AS $TOOL \"$@\"");
    EXPECT_EQ(r.status, c.status) << r.out;
    std::string expected;
    for (const char ch : c.out) expected += ch == '\n' ? kEol : std::string(1, ch);
    EXPECT_EQ(fnmatch(expected.c_str(), r.out.c_str(), 0), 0) << "expected:\n" << expected << "\ngot:\n" << r.out;
    const Result checked = sh(c.check);
    EXPECT_EQ(checked.status, 0) << c.check << "\n" << checked.out;
}

INSTANTIATE_TEST_SUITE_P(Cli, Row, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& info) { return info.param.name; });

std::vector<std::string> listDir(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir)) names.push_back(e.path().filename());
    return names;
}

TEST(Cli, ParallelWritersNeverExposeAPartialHeader) {
    const std::string dir = freshDir("parallel");
    ASSERT_EQ(run(toolWith({"p.h"}), dir).status, 0);
    std::atomic<int> writersLeft{3}, failures{0};
    std::vector<std::thread> writers;
    for (int w = 0; w < 3; ++w) {
        writers.emplace_back([&] {
            for (int i = 0; i < (kWindows ? 4 : 40); ++i) failures += run(toolWith({"p.h"}), dir).status != 0;
            --writersLeft;
        });
    }
    int reads = 0, partial = 0;
    for (; writersLeft > 0 || reads == 0; ++reads) {
        partial += !isCompleteHeader(readFile(dir + "/p.h"));
        std::this_thread::sleep_for(std::chrono::microseconds(100));  // leave the writers a core
    }
    for (auto& t : writers) t.join();
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(partial, 0) << "of " << reads << " reads";
    EXPECT_EQ(listDir(dir), std::vector<std::string>{"p.h"});
}

// A build stopped while the temporary file exists leaves a whole header (the
// old one, or the new one if the rename was under way) and no temporary file;
// the tool ends as the signal would have ended it. The tool is caught there
// by stopping it as soon as the file appears.
TEST(Cli, EndingSignalsLeaveNoTemporaryFile) {
    if (kWindows) GTEST_SKIP() << "POSIX signals";
    const std::string dir = freshDir("signals");
    ASSERT_EQ(run(toolWith({"s.h"}), dir).status, 0);
    chmod((dir + "/s.h").c_str(), 0640);  // a private header's replacement is never readable by others
    const int watch = inotify_init1(IN_CLOEXEC), devNull = open("/dev/null", O_WRONLY | O_CLOEXEC);
    ASSERT_GE(inotify_add_watch(watch, dir.c_str(), IN_CREATE), 0);
    int caught = 0;
    for (int n = 0; n < 400 && caught < 8; ++n) {
        const int sig = std::vector<int>{SIGINT, SIGTERM, SIGHUP, SIGQUIT}[n % 4];
        const pid_t pid = start(toolWith({"s.h"}), dir, {}, devNull);
        char event[4096];
        pollfd made{watch, POLLIN, 0};
        ASSERT_EQ(poll(&made, 1, 5000), 1) << "no temporary file appeared";
        ASSERT_GT(read(watch, event, sizeof event), 0);
        kill(pid, SIGSTOP);
        const auto names = listDir(dir);
        const bool inTime = names.size() == 2;
        struct stat temp {};
        for (const auto& name : names) {
            ASSERT_TRUE(name == "s.h" || (stat((dir + "/" + name).c_str(), &temp) != 0 || !(temp.st_mode & 0004)));
        }
        kill(pid, sig);
        kill(pid, SIGCONT);
        const int status = finish(pid);
        caught += inTime;
        ASSERT_TRUE(status == 128 + sig || (!inTime && status == 0)) << status;
        ASSERT_EQ(listDir(dir), std::vector<std::string>{"s.h"});
        ASSERT_TRUE(isCompleteHeader(readFile(dir + "/s.h")));
    }
    EXPECT_GT(caught, 0);
    close(watch);
    close(devNull);
}

}  // namespace
