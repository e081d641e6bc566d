// Ventrim: writes a C header carrying a fresh build stamp.
//
// Exit status: 0 once the header is written completely (or for --help and
// --version), 1 when it cannot be opened or written, 2 when the command line
// does not hold exactly one path (after --revision=DIR, if given) or
// SOURCE_DATE_EPOCH is not a time. A revision that cannot be read is no error.
// Standard output is a report: when it cannot be written (a closed pipe, a
// size limit) the header is written all the same and the status is its own.

#include <string>
#include <string_view>

#include "build_stamp.h"
#include "platform.h"
#include "revision.h"
#include "stamp_header.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFileError = 1;
constexpr int kExitUsage = 2;

// The usage line is the one a wrong command line prints.
constexpr char kHelp[] =
    "Ventrim <headerFileName>\n"
    "Writes headerFileName, a C header that defines this build's stamp: CODE_GUID,\n"
    "COMPILE_TIME_DATE_STR, COMPILE_TIME_DATE_INT and USER_NAME.\n"
    "  --help     print this text\n"
    "  --version  print the version\n"
    "  --revision=DIR  (before headerFileName) also write the git commit checked\n"
    "                  out in DIR's work tree, and whether tracked files differ\n"
    "With SOURCE_DATE_EPOCH set, the header depends only on its value, the path\n"
    "and (with --revision) the work tree.\n"
    "Exit status: 0 written; 1 it cannot be opened or written (the cause goes to\n"
    "standard error); 2 not exactly one argument, or SOURCE_DATE_EPOCH not a time.\n";

// The value of SOURCE_DATE_EPOCH in the environment main receives, or null;
// where variable names ignore case, under any case. (A plain scan: getenv
// would be one more C library function to bind at run time, which costs more
// than the scan.)
const char* sourceDateEpoch(char** envp) {
    const auto matches = [](char c, char upper) {
        const bool lower = ventrim::platform::kVariableNamesIgnoreCase && c >= 'a' && c <= 'z';
        return (lower ? c - 'a' + 'A' : c) == upper;
    };
    for (; envp != nullptr && *envp != nullptr; ++envp) {
        const char* name = "SOURCE_DATE_EPOCH=";
        const char* p = *envp;
        while (*name != '\0' && matches(*p, *name)) ++p, ++name;
        if (*name == '\0') return p;
    }
    return nullptr;
}

// Whether arg is --revision, or starts with --revision=.
bool revisionOption(std::string_view arg) {
    return arg.substr(0, 10) == "--revision" && (arg.size() == 10 || arg[10] == '=');
}

void printUsage(int argc, char** argv) {
    std::string text = "Ventrim <headerFileName>\nArguments provided:\n";
    for (int i = 0; i < argc; ++i) ((text += "- ") += argv[i]) += '\n';
    ventrim::platform::report(text);
}

}  // namespace

int main(int argc, char** argv, char** envp) {
    using namespace ventrim;

    platform::initProcess();
    // The banner goes out before anything else is written, also when the
    // header path is this process's own standard output.
    platform::report("Ventrim Rev " VENTRIM_REVISION " " + std::string(kAttribution) + '\n');
    const std::string_view only = argc == 2 && platform::plainArgument(argc, argv, 1) ? argv[1] : "";
    if (only == "--version") {
        platform::report("ventrim " VENTRIM_VERSION "\n");
        return kExitOk;
    }
    if (only == "--help" || only == platform::kHelpSwitch) {
        platform::report(kHelp);
        return kExitOk;
    }
    // --revision=DIR, with a folder's name, comes before the header path, and
    // only there; judged by the text the system received, where a look-alike
    // of the option is a path. (Only an argument that starts with '-' is
    // compared, and by hand: a first call of memcmp would cost every run its
    // binding.)
    platform::FilePath dir;
    bool withRevision = false;
    if (argc == 3 && argv[1][0] == '-') {
        dir = platform::fileArgument(argc, argv, 1);
        const char* option = "--revision=";
        std::size_t same = 0;
        while (same < dir.size() && option[same] != '\0' && dir[same] == option[same]) ++same;
        withRevision = option[same] == '\0' && dir.size() > same;
    }
    if (argc != 2 + withRevision || (!only.empty() && only[0] == '-' && revisionOption(only))) {
        printUsage(argc, argv);
        return kExitUsage;
    }
    const std::string headerFileName = argv[argc - 1];
    const platform::FilePath file = platform::fileArgument(argc, argv, argc - 1);

    BuildStamp stamp;
    if (const char* epoch = sourceDateEpoch(platform::environment(envp))) {
        std::int64_t seconds = 0;
        if (!parseSourceDateEpoch(epoch, seconds)) {
            std::string value = epoch;
            for (char& c : value) c = static_cast<unsigned char>(c) < 0x20 || c == 0x7F ? '?' : c;
            platform::report("SOURCE_DATE_EPOCH=\"" + value + "\" is not a whole number of seconds from 0 to " +
                             std::to_string(kLatestSourceDateEpoch) + "\n");
            return kExitUsage;
        }
        // The GUID follows the name the system received, which the ANSI text
        // of headerFileName may show as a look-alike.
        setReproducibleStamp(seconds, platform::utf8Text(file), stamp);
    } else {
        createCodeGuid(stamp);
        queryUserName(stamp);
        readCompileTime(stamp);
    }

    WriteResult result;
    std::string failure;
    if (withRevision) {
        dir.erase(0, 11);
        std::string cause;
        const SourceRevision revision = readSourceRevision(dir, argv[1] + 11, envp, cause);
        if (!cause.empty()) platform::reportError("ventrim: " + cause + "\n");
        result = writeStampHeader(headerFileName, stamp, file, failure, &revision);
    } else {
        result = writeStampHeader(headerFileName, stamp, file, failure);
    }
    if (result == WriteResult::ok) return kExitOk;
    platform::report((result == WriteResult::openFailed ? "Can't open: " : "Can't write: ") + headerFileName + " \n");
    // Standard output's line is fixed text; the cause goes to standard error,
    // in the form other tools use.
    if (!failure.empty()) platform::reportError("ventrim: " + headerFileName + ": " + failure + "\n");
    return kExitFileError;
}
