#include "stamp_header.h"

#include <cstdint>
#include <vector>

namespace ventrim {

const char* const kAttribution = "- build stamps for C and C++";

namespace {

bool isControl(unsigned char byte) { return byte < 0x20 || byte == 0x7F; }

// Octal, not hex: a hex escape would swallow any hex digit after it.
void appendOctal(std::string& out, unsigned char byte) {
    const char escape[] = {'\\', static_cast<char>('0' + (byte >> 6)), static_cast<char>('0' + ((byte >> 3) & 7)),
                           static_cast<char>('0' + (byte & 7))};
    out.append(escape, sizeof escape);
}

// Length of the well-formed UTF-8 sequence that starts at text[at], or 0 if
// none does (a stray byte, an overlong form, a surrogate, beyond U+10FFFF).
std::size_t utf8SequenceLength(const std::string& text, std::size_t at) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned lead = byte(at);
    std::size_t length = 0;
    unsigned low = 0x80, high = 0xBF;  // the range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    }
    if (length == 0 || text.size() - at < length) return 0;
    for (std::size_t i = 1; i < length; ++i) {
        if (byte(at + i) < (i == 1 ? low : 0x80) || byte(at + i) > (i == 1 ? high : 0xBF)) return 0;
    }
    return length;
}

// Whether text[at] starts a bidirectional control, U+202A..U+202E or
// U+2066..U+2069 (three bytes), which compilers refuse in source as it may
// show the code in another order than it is read.
bool startsBidiControl(const std::string& text, std::size_t at) {
    if (text.size() - at < 3 || text[at] != '\xE2') return false;
    const auto third = static_cast<unsigned char>(text[at + 2]);
    return (text[at + 1] == '\x80' && third >= 0xAA && third <= 0xAE) ||
           (text[at + 1] == '\x81' && third >= 0xA6 && third <= 0xA9);
}

// Appends a character or byte that must not appear as it is: the bytes of a
// bidirectional control at text[at], else the one byte, as octal escapes.
// Returns how many bytes it took.
std::size_t appendEscaped(std::string& out, const std::string& text, std::size_t at) {
    const std::size_t length = startsBidiControl(text, at) ? 3 : 1;
    for (std::size_t i = at; i < at + length; ++i) appendOctal(out, static_cast<unsigned char>(text[i]));
    return length;
}

// A '?' after a '?' could start a trigraph ("??/" is a backslash).
bool continuesTrigraph(const std::string& text, std::size_t at) {
    return text[at] == '?' && at > 0 && text[at - 1] == '?';
}

// Appends value as `digits` upper-case hexadecimal digits with leading zeros.
void appendHex(std::string& out, std::uint32_t value, int digits) {
    for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4) out += "0123456789ABCDEF"[(value >> shift) & 0xF];
}

}  // namespace

std::string oneLine(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (isControl(static_cast<unsigned char>(text[i])) || startsBidiControl(text, i)) {
            i += appendEscaped(out, text, i) - 1;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::string printable(std::string text) {
    for (char& c : text) c = static_cast<unsigned char>(c) < 0x20 || c == 0x7F ? '?' : c;
    return text;
}

std::string commentSafePath(const std::string& path) {
    // The escapes oneLine writes are a backslash and digits: they neither
    // make nor split a "*/", "/*" or "??".
    const std::string text = oneLine(path);
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (continuesTrigraph(text, i)) out += '\\';
        out += c;
        const char next = i + 1 < text.size() ? text[i + 1] : '\0';
        if ((c == '*' && next == '/') || (c == '/' && next == '*')) out += '\\';
    }
    return out;
}

std::string stringLiteralBody(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\' || continuesTrigraph(text, i)) {
            out += '\\';
            out += c;
        } else if (byte >= 0x20 && byte < 0x7F) {
            out += c;
        } else if (const std::size_t length = startsBidiControl(text, i) ? 0 : utf8SequenceLength(text, i)) {
            out.append(text, i, length);
            i += length - 1;
        } else {
            i += appendEscaped(out, text, i) - 1;
        }
    }
    return out;
}

std::vector<StampMacro> stampMacros(const BuildStamp& stamp, const SourceRevision* revision) {
    std::string guid = "{";
    for (std::size_t i = 8; i < 16; ++i) {
        guid += "0x";
        appendHex(guid, stamp.codeGuid[i], 2);
        guid += i < 15 ? ',' : '}';
    }
    std::string time = "0x";
    // Only the low 32 bits are kept, as an unsigned number.
    appendHex(time, static_cast<std::uint32_t>(static_cast<std::uint64_t>(stamp.compileTime)), 8);
    const auto quoted = [](std::string body) { return body.insert(0, 1, '"') += '"'; };
    std::vector<StampMacro> macros = {
        {"CODE_GUID", guid},
        {"COMPILE_TIME_DATE_STR", quoted(std::string(stamp.compileTimeDateStr.data(), stamp.compileTimeDateStr.size()))},
        {"COMPILE_TIME_DATE_INT", time},
        {"USER_NAME", quoted(stringLiteralBody(stamp.userName))},
    };
    if (revision != nullptr) {
        macros.push_back({"CODE_REVISION", quoted(stringLiteralBody(revision->commit))});
        macros.push_back({"CODE_REVISION_MODIFIED", std::to_string(revision->modified)});
    }
    return macros;
}

std::string formatStampHeader(const std::string& headerFileName, const BuildStamp& stamp,
                              const SourceRevision* revision) {
    std::string out;
    out.reserve(512 + headerFileName.size() + stamp.userName.size());
    out += "/*\n * ";
    out += commentSafePath(headerFileName);
    out += " \n * ================================================== \n * automatically generated by Ventrim ";
    out += kAttribution;
    out += "\n*/\n\n#ifndef VENTRIM_H\n#define VENTRIM_H\n\n";
    for (const StampMacro& macro : stampMacros(stamp, revision)) {
        out.append("#define ").append(macro.name).append(1, ' ').append(macro.value).append(1, '\n');
    }
    out += "#endif\n";
    return out;
}

WriteResult writeStampHeader(const std::string& headerFileName, const BuildStamp& stamp,
                             const platform::FilePath& file, std::string& cause,
                             const SourceRevision* revision) {
    const std::string contents = formatStampHeader(headerFileName, stamp, revision);
    // A reproducible stamp that is already there is left alone, time stamp
    // and all, so that nothing that depends on it is rebuilt.
    if (stamp.reproducible && platform::fileHolds(file, contents)) return WriteResult::ok;
    return platform::replaceFile(file, contents, cause);
}

}  // namespace ventrim
