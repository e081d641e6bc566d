// The stamp header: a C header that defines one BuildStamp, and with
// --revision its source revision, as macros.
#pragma once

#include <string>
#include <vector>

#include "build_stamp.h"
#include "platform.h"
#include "revision.h"

namespace ventrim {

// Text that follows the tool's name in the banner and in the header comment.
extern const char* const kAttribution;

// text with its control bytes and the bytes of bidirectional controls as
// three-digit octal escapes: printed in a message, a path or value stays one
// line and sends a terminal no control sequence.
std::string oneLine(const std::string& text);

// text with '?' for each control byte: how the fixed lines on standard output
// and git's own messages have always shown them, one line.
std::string printable(std::string text);

// The path as it goes into the one-line header comment: oneLine's escapes
// (a control byte would end the line; compilers reject bidirectional
// controls), "*/" and "/*" broken up as "*\/" and "/\*" so the comment can
// neither end early nor nest, and a backslash before a '?' after a '?' so no
// trigraph can splice lines.
std::string commentSafePath(const std::string& path);

// The user name as it goes between the double quotes of a C string literal,
// so that the literal compiles to exactly these bytes under any C or C++
// standard, trigraphs on or off: '"', '\' and a '?' after a '?' get a
// backslash; control bytes, bytes that are not well-formed UTF-8 and the
// bytes of bidirectional controls (U+202A..U+202E, U+2066..U+2069) become
// three-digit octal escapes.
std::string stringLiteralBody(const std::string& text);

// One line of the header: #define name value.
struct StampMacro {
    const char* name;
    std::string value;
};

// The header's macros, in the order it defines them: those of the stamp, then
// those of the revision when given. New ones go last, so that a header keeps
// the lines and order it had.
std::vector<StampMacro> stampMacros(const BuildStamp& stamp, const SourceRevision* revision = nullptr);

// The complete header, with '\n' line ends, with the revision's lines
// when given. Pure: same inputs, same bytes.
std::string formatStampHeader(const std::string& headerFileName, const BuildStamp& stamp,
                              const SourceRevision* revision = nullptr);

// Writes the header for stamp (and revision), naming headerFileName, to file
// (the same path as the file calls take it), replacing any earlier one; on
// failure cause says why.
WriteResult writeStampHeader(const std::string& headerFileName, const BuildStamp& stamp,
                             const platform::FilePath& file, std::string& cause,
                             const SourceRevision* revision = nullptr);

}  // namespace ventrim
