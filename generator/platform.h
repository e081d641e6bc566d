// The few OS services the tool needs. One implementation per platform, chosen
// by the build: platform_posix.cpp with replace_file_posix.cpp, or
// platform_win32.cpp with replace_file_win32.cpp.
#pragma once

#include <array>
#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

namespace ventrim {

enum class WriteResult {
    ok,
    openFailed,   // the path cannot be opened for writing
    writeFailed,  // opened, but the new contents could not be stored completely
};

namespace platform {

// A path as the file calls take it: wide on Windows, whose wide API holds any
// name the file system can; bytes elsewhere. The platform's conventions for
// the command line and the environment go with it.
#ifdef _WIN32
using FilePath = std::wstring;
// The path as UTF-8 text.
std::string utf8Text(const FilePath& path);
// Windows' own help switch, which no file name can be; and its variable
// names, which ignore case.
constexpr std::string_view kHelpSwitch = "/?";
constexpr bool kVariableNamesIgnoreCase = true;
// The characters that end a folder's name in a path.
constexpr std::string_view kPathSeparators = "/\\";
// Whether the first length characters of argument index (all, if fewer) are
// plain ASCII as the system received it: only such text may be an option.
// (argv's ANSI text shows look-alikes for characters outside the code page:
// a fullwidth hyphen as '-'.)
bool plainArgument(int argc, char** argv, int index, std::size_t length);
// The environment as the system holds it, each entry as UTF-8 text, so that
// no look-alike passes for an ASCII letter or digit. Lives for the run.
char** environment(char** envp);
#else
using FilePath = std::string;
inline const std::string& utf8Text(const FilePath& path) { return path; }  // its bytes, as given
constexpr std::string_view kHelpSwitch = "--help";
constexpr bool kVariableNamesIgnoreCase = false;
constexpr std::string_view kPathSeparators = "/";
// The bytes are what the caller gave: there are no look-alikes to rule out.
inline bool plainArgument(int /*argc*/, char** /*argv*/, int /*index*/, std::size_t /*length*/) { return true; }
inline char** environment(char** envp) { return envp; }
#endif

// Argument index of the command line as a path for the file calls. On Windows
// it is taken from the wide command line, as the system received it: argv's
// ANSI text replaces characters outside the code page with look-alikes (a
// fullwidth solidus with a real one). Empty when the two do not split into the
// same number of arguments. Elsewhere argv's bytes.
FilePath fileArgument(int argc, char** argv, int index);

// Called first: a standard output that is closed or over a size limit makes a
// write fail instead of ending the process, so the header is still written;
// and the time zone is one the C runtime reads as meant (Windows drops a TZ
// it cannot read).
void initProcess();

// Writes text to standard output at once. A failure is not reported: the
// output is a report, the header is the job.
void report(const std::string& text);

// Writes text to standard error at once; a failure is not reported either.
void reportError(const std::string& text);

// Why the last replaceFile that failed did so, for the line on standard
// error: the system's text for the error it met ("No such file or
// directory"), or the rule of the tool's own that refused the file. Empty
// when neither is known.
std::string failureCause();

// A fresh UUID in the platform's layout. Never fails: when the OS generator
// is unavailable, falls back to a weaker but still per-run unique source.
std::array<std::uint8_t, 16> createUuid();

// Name of the account the process runs as, untruncated; on POSIX the decimal
// user id when the id has no account entry, on Windows empty on failure.
std::string accountName();

// Seconds since 1970-01-01 00:00:00 UTC.
std::int64_t clockSeconds();

// Converts a clock reading to local broken-down time; false if the runtime
// rejects it.
bool toLocalTime(std::int64_t seconds, std::tm& local);

// Whether path is a regular file that holds exactly contents (with the
// platform's text line ends, as replaceFile would write them).
bool fileHolds(const FilePath& path, const std::string& contents);

// Replaces the file at path with contents ('\n' line ends; converted to the
// platform's text line end). A regular file is replaced atomically where its
// folder takes a new file: readers see the old or the new contents, never a
// mix. Where it does not (a folder the runner may not write, a file held open
// by another process on Windows), a writable file is rewritten in place,
// which a reader at that moment may see half done. Either way a failure
// leaves the old file as it was. The replacement keeps the replaced file's mode and, where the
// runner may give it, its owner; it is never readable by others before then.
WriteResult replaceFile(const FilePath& path, const std::string& contents);

}  // namespace platform
}  // namespace ventrim
