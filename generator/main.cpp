// Ventrim: writes a C header carrying a fresh build stamp.
//
// Exit status: 0 once the header is written completely (or for --help and
// --version), 1 when it cannot be opened or written, 2 for a wrong command
// line or a SOURCE_DATE_EPOCH that is not a time. A revision that cannot be
// read is no error. Standard output is a report of fixed lines: when it cannot
// be written (a closed pipe, a size limit) the header is written all the same
// and the status is its own. Standard error says why a run failed, one line.

#include <algorithm>
#include <string>
#include <string_view>

#include "build_stamp.h"
#include "command_line.h"
#include "platform.h"
#include "revision.h"
#include "stamp_header.h"

namespace {

using namespace ventrim;

constexpr int kExitOk = 0;
constexpr int kExitFileError = 1;
constexpr int kExitUsage = 2;

constexpr char kHelp[] =
    "Ventrim <headerFileName>\n"
    "Writes headerFileName, a C header that defines this build's stamp: CODE_GUID,\n"
    "COMPILE_TIME_DATE_STR, COMPILE_TIME_DATE_INT and USER_NAME.\n"
    "  -h, --help      print this text\n"
    "  --version       print the version\n"
    "  --revision=DIR  (before headerFileName) also write the git commit checked\n"
    "                  out in DIR's work tree, and whether tracked files differ\n"
    "A header whose name starts with '-' is written as ./-name.\n"
    "With SOURCE_DATE_EPOCH set, the header depends only on its value, the path\n"
    "and (with --revision) the work tree.\n"
    "Exit status: 0 written; 1 it cannot be opened or written; 2 a wrong command\n"
    "line, or SOURCE_DATE_EPOCH not a time. The cause goes to standard error.\n";

// Longest part of a wrong SOURCE_DATE_EPOCH shown on standard error.
constexpr std::size_t kShownValueBytes = 40;


void printUsage(int argc, char** argv, const std::string& problem) {
    std::string text = "Ventrim <headerFileName>\nArguments provided:\n";
    for (int i = 0; i < argc; ++i) ((text += "- ") += oneLine(argv[i])) += '\n';
    platform::report(text);
    platform::reportError("ventrim: " + oneLine(problem) + '\n');
}

// Fills stamp from SOURCE_DATE_EPOCH, or afresh without it. False, once it
// has said so, when the variable holds no time.
bool fillStamp(char** envp, const platform::FilePath& file, BuildStamp& stamp) {
    const char* epoch = environmentValue(platform::environment(envp), "SOURCE_DATE_EPOCH");
    if (epoch == nullptr) {
        createCodeGuid(stamp);
        queryUserName(stamp);
        readCompileTime(stamp);
        return true;
    }
    std::int64_t seconds = 0;
    if (!parseSourceDateEpoch(epoch, seconds)) {
        const std::string latest = std::to_string(kLatestSourceDateEpoch);
        platform::report("SOURCE_DATE_EPOCH=\"" + printable(epoch) + "\" is not a whole number of seconds from 0 to " + latest + "\n");
        std::string value = epoch;
        const std::size_t shown = characterCut(value, kShownValueBytes);
        value = oneLine(value.substr(0, shown)) + (shown < value.size() ? "..." : "");
        platform::reportError("ventrim: SOURCE_DATE_EPOCH=\"" + value +
                              "\" is not a time: set it to whole seconds since 1970, from 0 to " + latest + "\n");
        return false;
    }
    // The GUID follows the name the system received, which the ANSI text of
    // the header's name may show as a look-alike.
    setReproducibleStamp(seconds, platform::utf8Text(file), stamp);
    return true;
}

// Why path cannot name a header, where the system's cause would mislead.
std::string pathProblem(const std::string& path) {
    if (path.empty()) return "an empty path names no file: give the header's path";
    if (platform::kPathSeparators.find(path.back()) != std::string_view::npos) {
        return std::string("the path ends in '") + path.back() + "', which names a folder: give the header's file name";
    }
    return {};
}

// Writes the header that argument asked.header names, with the revision of
// --revision's folder when asked.
int writeHeader(int argc, char** argv, char** envp, const Request& asked, const BuildStamp& stamp) {
    const std::string name = argv[asked.header];
    const platform::FilePath file = platform::fileArgument(argc, argv, asked.header);
    std::string cause = pathProblem(name);
    WriteResult result = WriteResult::openFailed;
    if (cause.empty() && asked.revision != 0) {
        std::string why;
        // The option's characters are plain ASCII, also in the system's text.
        const std::string dirText = argv[asked.revision] + kRevisionOption.size();
        const platform::FilePath option = platform::fileArgument(argc, argv, asked.revision);
        const platform::FilePath dir = option.substr(std::min(option.size(), kRevisionOption.size()));
        const SourceRevision revision = readSourceRevision(dir, oneLine(dirText), envp, why);
        if (!why.empty()) platform::reportError("ventrim: " + why + "\n");
        result = writeStampHeader(name, stamp, file, cause, &revision);
    } else if (cause.empty()) {
        result = writeStampHeader(name, stamp, file, cause);
    }
    if (result == WriteResult::ok) return kExitOk;
    // Standard output's line is fixed text; the cause goes to standard error,
    // in the form other tools use.
    platform::report((result == WriteResult::openFailed ? "Can't open: " : "Can't write: ") + oneLine(name) + " \n");
    if (!cause.empty()) platform::reportError("ventrim: " + oneLine(name) + ": " + cause + "\n");
    return kExitFileError;
}

}  // namespace

int main(int argc, char** argv, char** envp) {
    platform::initProcess();
    // The banner goes out before anything else is written, also when the
    // header path is this process's own standard output.
    platform::report("Ventrim Rev " VENTRIM_REVISION " " + std::string(kAttribution) + '\n');
    const Request asked = parseCommandLine(argc, argv);
    switch (asked.action) {
        case Request::Action::help: platform::report(kHelp); return kExitOk;
        case Request::Action::version: platform::report("ventrim " VENTRIM_VERSION "\n"); return kExitOk;
        case Request::Action::usageError: printUsage(argc, argv, asked.problem); return kExitUsage;
        case Request::Action::stamp: break;
    }
    BuildStamp stamp;
    if (!fillStamp(envp, platform::fileArgument(argc, argv, asked.header), stamp)) return kExitUsage;
    return writeHeader(argc, argv, envp, asked, stamp);
}
