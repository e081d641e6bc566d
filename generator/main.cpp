// Ventrim: writes a C header carrying a fresh build stamp.
//
// Exit status: 0 once the header is written completely, 1 when it cannot be
// opened or written, 2 when the command line does not hold exactly one path.
// Standard output is a report: when it cannot be written (a closed pipe, a
// size limit) the header is written all the same and the status is its own.

#include <string>

#include "build_stamp.h"
#include "platform.h"
#include "stamp_header.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFileError = 1;
constexpr int kExitUsage = 2;

void printUsage(int argc, char** argv) {
    std::string text = "Ventrim <headerFileName>\nArguments provided:\n";
    for (int i = 0; i < argc; ++i) ((text += "- ") += argv[i]) += '\n';
    ventrim::platform::report(text);
}

}  // namespace

int main(int argc, char** argv) {
    using namespace ventrim;

    platform::initProcess();
    BuildStamp stamp;
    createCodeGuid(stamp);
    queryUserName(stamp);

    // The banner goes out before anything else is written, also when the
    // header path is this process's own standard output.
    platform::report("Ventrim Rev 1.0 " + std::string(kAttribution) + '\n');
    if (argc != 2) {
        printUsage(argc, argv);
        return kExitUsage;
    }
    const std::string headerFileName = argv[1];

    readCompileTime(stamp);

    switch (writeStampHeader(headerFileName, stamp, platform::fileArgument(argc, argv, 1))) {
        case WriteResult::ok:
            return kExitOk;
        case WriteResult::openFailed:
            platform::report("Can't open: " + headerFileName + " \n");
            return kExitFileError;
        case WriteResult::writeFailed:
            break;
    }
    platform::report("Can't write: " + headerFileName + " \n");
    return kExitFileError;
}
