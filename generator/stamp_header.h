// The stamp header: a C header of fourteen lines carrying one BuildStamp, or
// sixteen with its source revision.
#pragma once

#include <string>

#include "build_stamp.h"
#include "platform.h"
#include "revision.h"

namespace ventrim {

// Text that follows the tool's name in the banner and in the header comment.
extern const char* const kAttribution;

// The path as it goes into the one-line header comment: "*/" and "/*" are
// broken up as "*\/" and "/\*" so the comment can neither end early nor nest,
// a '?' after a '?' gets a backslash so no trigraph can splice lines, control
// bytes become three-digit octal escapes so the line stays one line, and so do
// the bytes of the bidirectional controls, which compilers reject.
std::string commentSafePath(const std::string& path);

// The user name as it goes between the double quotes of a C string literal,
// so that the literal compiles to exactly these bytes under any C or C++
// standard, trigraphs on or off: '"', '\' and a '?' after a '?' get a
// backslash; control bytes, bytes that are not well-formed UTF-8 and the
// bytes of bidirectional controls (U+202A..U+202E, U+2066..U+2069) become
// three-digit octal escapes.
std::string stringLiteralBody(const std::string& text);

// The complete header, with '\n' line ends, with the two lines of revision
// when given. Pure: same inputs, same bytes.
std::string formatStampHeader(const std::string& headerFileName, const BuildStamp& stamp,
                              const SourceRevision* revision = nullptr);

// Writes the header for stamp (and revision), naming headerFileName, to file
// (the same path as the file calls take it), replacing any earlier one.
WriteResult writeStampHeader(const std::string& headerFileName, const BuildStamp& stamp,
                             const platform::FilePath& file, const SourceRevision* revision = nullptr);

}  // namespace ventrim
