// The build stamp: the four values that identify one run, and how they are
// obtained. The formatting helpers here are pure so that they can be tested
// with fixed values; only the three operations at the bottom touch the OS.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>

namespace ventrim {

// Longest user name kept, in bytes (the name field holds 80 with its terminator).
constexpr std::size_t kMaxUserNameBytes = 79;

// Length of the date text: "Fri Nov 03 08:26:40 2023".
constexpr std::size_t kDateTextLength = 24;

struct BuildStamp {
    // A UUID in the platform's layout; only bytes 8..15 reach the header.
    std::array<std::uint8_t, 16> codeGuid{};
    std::string userName{};
    // Seconds since 1970-01-01 00:00:00 UTC.
    std::int64_t compileTime = 0;
    std::array<char, kDateTextLength> compileTimeDateStr{};
    // Set from SOURCE_DATE_EPOCH: every run with the same value and path
    // makes the same stamp.
    bool reproducible = false;
};

// SOURCE_DATE_EPOCH, the reproducible-builds convention, may hold at most
// 9999-12-31 23:59:59 UTC, the last time the date text can show.
constexpr std::int64_t kLatestSourceDateEpoch = 253402300799;

// Forms the 24-character date text from broken-down local time, with English
// names and a zero-padded day whatever the locale. Fields out of range (or a
// year outside 0..9999) are written as '?' so the text keeps its length.
std::array<char, kDateTextLength> formatDateText(const std::tm& local);

// The text written when the clock cannot be converted to local time.
std::array<char, kDateTextLength> unknownDateText();

// The length of text cut to at most limit bytes without splitting a UTF-8
// sequence: it steps back only over the continuation bytes of a valid lead
// byte, so text that is not UTF-8 is cut at the limit, not to nothing.
std::size_t characterCut(const std::string& text, std::size_t limit);

// Cuts a name to kMaxUserNameBytes at a character boundary.
std::string clampUserName(std::string name);

// Stamps the version-4 and RFC 4122 variant bits onto 16 random bytes, so
// byte 8 always lies in 0x80..0xBF.
void markVersion4(std::array<std::uint8_t, 16>& uuid);

// Reads a SOURCE_DATE_EPOCH value: ASCII decimal digits only, at most
// kLatestSourceDateEpoch. False for anything else (empty, a sign, blanks).
bool parseSourceDateEpoch(const std::string& text, std::int64_t& seconds);

// Broken-down UTC time of 0 <= seconds <= kLatestSourceDateEpoch.
std::tm utcTime(std::int64_t seconds);

// The name-based (SHA-1, version 5) UUID of name in namespaceId, both in
// network byte order.
std::array<std::uint8_t, 16> nameBasedUuid(const std::array<std::uint8_t, 16>& namespaceId, const std::string& name);

// Fills stamp from SOURCE_DATE_EPOCH alone: compileTime, its date text in UTC,
// a GUID named by the time and the header's path (as UTF-8 text on Windows,
// its bytes elsewhere), and no user name.
void setReproducibleStamp(std::int64_t seconds, const std::string& path, BuildStamp& stamp);

// Fills codeGuid with a fresh UUID.
void createCodeGuid(BuildStamp& stamp);
// Sets userName to the account the process runs as.
void queryUserName(BuildStamp& stamp);
// Reads the clock into compileTime and forms compileTimeDateStr from it.
void readCompileTime(BuildStamp& stamp);

}  // namespace ventrim
