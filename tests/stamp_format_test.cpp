// The pure parts: date text, escaping, and the header bytes from fixed stamps.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include "build_stamp.h"
#include "revision.h"
#include "stamp_header.h"

using namespace ventrim;

static BuildStamp fixedStamp(std::int64_t compileTime, std::string userName = "builder") {
    BuildStamp s{{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x9E, 0x05, 0xAB, 0x00, 0x10, 0x7F, 0xC3, 0xFF},
                 std::move(userName), compileTime};
    std::copy_n("Fri Nov 03 08:26:40 2023", kDateTextLength, s.compileTimeDateStr.begin());
    return s;
}

// Names and in-range values are checked against the C library below; here a leap second, no overflow adding 1900, each field out of range.
TEST(DateText, LeapSecondAndEveryFieldOutOfRange) {
    const struct { int year, mon, mday, hour, min, sec, wday; const char* text; } rows[] = {
        {2147483647, 11, 31, 23, 59, 60, 6, "Sat Dec 31 23:59:60 ????"}, {10000, 12, 32, 24, 60, 61, 7, "??? ??? ?? ??:??:?? ????"},
        {-1, -1, 0, -1, -1, -1, -1, "??? ??? ?? ??:??:?? ????"}};
    for (const auto& r : rows) {
        std::tm t{};
        t.tm_year = r.year - 1900, t.tm_mon = r.mon, t.tm_mday = r.mday, t.tm_hour = r.hour, t.tm_min = r.min;
        t.tm_sec = r.sec, t.tm_wday = r.wday;
        EXPECT_EQ(std::string(formatDateText(t).data(), kDateTextLength), r.text);
    }
    EXPECT_EQ(std::string(unknownDateText().data(), kDateTextLength), "??? ??? ?? ??:??:?? ????");
}

TEST(SourceDateEpoch, ValuesAndUtcDates) {
    // seconds -1: the value is refused.
    const struct { const char* text; std::int64_t seconds; } values[] = {
        {"0", 0}, {"0012", 12}, {"000000000000000000000000000042", 42}, {"1700000000", 1700000000},
        {"253402300799", 253402300799}, {"253402300800", -1}, {"99999999999999999999999", -1}, {"", -1}, {"-1", -1},
        {"+1", -1}, {" 1", -1}, {"1 ", -1}, {"1e9", -1}, {"0x10", -1}};
    for (const auto& v : values) {
        std::int64_t seconds = 0;
        EXPECT_EQ(parseSourceDateEpoch(v.text, seconds) ? seconds : -1, v.seconds) << v.text;
    }
    // Leap days, century years, a 400-year cycle's start, the last second, then a sweep, against the C library.
    std::vector<std::time_t> times = {0, 951782399, 951782400, 951868800, 4107542399, 4107542400, 253402300799};
    for (std::time_t t = 0; t < 253402300799; t += 86400 * 97 + 3607) times.push_back(t);
    for (const std::time_t t : times) {
        std::tm expected{};
        char text[32];
        ASSERT_TRUE(gmtime_r(&t, &expected) && std::strftime(text, sizeof text, "%a %b %d %H:%M:%S %Y", &expected));
        EXPECT_EQ(std::string(formatDateText(utcTime(t)).data(), kDateTextLength), text) << t;
    }
}

TEST(SourceDateEpoch, NameBasedGuid) {
    // Version-5 UUIDs in the DNS namespace, as RFC 4122 tools give them; 15 and 40 bytes fill one and two SHA-1 blocks.
    const std::array<std::uint8_t, 16> dns = {0x6b, 0xa7, 0xb8, 0x10, 0x9d, 0xad, 0x11, 0xd1, 0x80, 0xb4, 0x00, 0xc0, 0x4f, 0xd4, 0x30, 0xc8};
    const struct { std::string name; std::array<std::uint8_t, 16> uuid; } names[] = {
        {"www.example.com", {0x2e, 0xd6, 0x65, 0x7d, 0xe9, 0x27, 0x56, 0x8b, 0x95, 0xe1, 0x26, 0x65, 0xa8, 0xae, 0xa6, 0xa2}},
        {std::string(40, 'a'), {0x39, 0xf3, 0x9c, 0x20, 0xdb, 0x47, 0x51, 0x31, 0x88, 0x79, 0x62, 0xf8, 0xf6, 0x7f, 0x90, 0x14}},
    };
    for (const auto& n : names) EXPECT_EQ(nameBasedUuid(dns, n.name), n.uuid) << n.name;
}

TEST(UserName, ClampedTo79BytesOnACharacterBoundary) {
    // Sequences of two, three and four bytes that would be cut, one that ends at the limit, and bytes that are not UTF-8.
    const std::string a76(76, 'a');
    const std::pair<std::string, std::string> rows[] = {
        {std::string(200, 'a'), std::string(79, 'a')}, {a76 + "aa\xC3\xA9xyz", a76 + "aa"}, {a76 + "a\xE2\x82\xAC", a76 + "a"},
        {a76 + "\xF0\x9F\x98\x80", a76}, {a76 + "\xF4\x8F\xBF\xBF", a76}, {a76 + "a\xC3\xA9\x80", a76 + "a\xC3\xA9"},
        {std::string(100, '\x80'), std::string(79, '\x80')},
    };
    for (const auto& [name, cut] : rows) EXPECT_EQ(clampUserName(name), cut) << name;
}

TEST(Escaping, CommentAndStringLiteral) {
    // Trigraphs are written "?\?" so that this file means the same with trigraphs on or off. An empty column: unchanged.
    // Then well-formed UTF-8 of two, three and four bytes and at the edges; Latin-1, overlong forms, a surrogate,
    // beyond U+10FFFF, cut sequences; the first and last bidirectional controls of both ranges, their neighbours, a cut one.
    const struct { std::string in, comment, literal; } rows[] = {
        {"/*/", "/\\*\\/", "/*/"}, {"**//%s", "**\\//%s", "**//%s"}, {"a\"b\\c", "", "a\\\"b\\\\c"},
        {"a?\?-b?\?/", "a?\\?-b?\\?/", "a?\\?-b?\\?/"}, {"???", "?\\?\\?", "?\\?\\?"},
        {std::string("\n\x01\x1F\x7F" "7", 5), "\\012\\001\\037\\1777", "\\012\\001\\037\\1777"},
        {"a*\\\n/h.h", "a*\\\\012/h.h", "a*\\\\\\012/h.h"},
        {"J\xC3\xBC \xE2\x82\xAC \xF0\x9F\x98\x80 \xC2\x80\xDF\xBF\xED\x9F\xBF\xEF\xBF\xBF\xF1\x80\x80\x80\xF4\x8F\xBF\xBF\xE0\xA0\x80", "", ""},
        {"\xC0\xAF\xE0\x9F\xBF\xC1\xBF\x80\x80\x80\x80\xF5\xF0\x8F\xBF\xBF", "",
         "\\300\\257\\340\\237\\277\\301\\277\\200\\200\\200\\200\\365\\360\\217\\277\\277"},
        {"jos\xE9\xED\xA0\x80\xF4\x90\x80\x80", "", "jos\\351\\355\\240\\200\\364\\220\\200\\200"},
        {"\xF0\x90\x80\xF5\xE0\xA0", "", "\\360\\220\\200\\365\\340\\240"},
        {"\xE2\x80\xAA\xE2\x80\xAE\xE2\x81\xA6\xE2\x81\xA9 \xE2\x80\xA9\xE2\x80\xAF\xE2\x81\xA5\xE2\x81\xAA\xE2\x80",
         "\\342\\200\\252\\342\\200\\256\\342\\201\\246\\342\\201\\251 \xE2\x80\xA9\xE2\x80\xAF\xE2\x81\xA5\xE2\x81\xAA\xE2\x80",
         "\\342\\200\\252\\342\\200\\256\\342\\201\\246\\342\\201\\251 \xE2\x80\xA9\xE2\x80\xAF\xE2\x81\xA5\xE2\x81\xAA\\342\\200"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(commentSafePath(row.in), row.comment.empty() ? row.in : row.comment) << row.in;
        EXPECT_EQ(stringLiteralBody(row.in), row.literal.empty() ? row.in : row.literal) << row.in;
    }
}

// Hostile paths and user names: each header has the lines a plain one has, compiles without a warning as C89, C99, C11,
// C++98 and C++17 with every gcc and clang found, trigraphs off and on, and its USER_NAME holds the name's bytes.
TEST(Header, HostileHeadersCompileToTheExactName) {
    const std::pair<std::string, std::string> rows[] = {
        {"a/*b*/c/*/d\\", "we\"ird\\ \n\tname %d \x7F"}, {"a*\\\n/h.h", "a?\?-b?\?/"}, {"x\ny.h", "jos\xE9"},
        {"?\?/\n", "?\?\?/\xED\xA0\x80"}, {"a?\?/", "\xF0\x9F\x98\x80\xC3"}, {"d\\\r\n", "x?"},
        {"b\xE2\x80\xAEid\xE2\x81\xA6i/h.h", "u\xE2\x81\xA6s\xE2\x80\xAA"},
    };
    const std::string dir = std::filesystem::temp_directory_path() / ("ventrim-compile-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    // Each header included twice (its guard holds), its name against the bytes written as octal escapes.
    const std::string plain = formatStampHeader("h.h", fixedStamp(0));
    std::string program = "#include <string.h>\n#define CHECK(expected) { static const unsigned char guid[8] = CODE_GUID; \\\n"
        "  static const char date[] = COMPILE_TIME_DATE_STR, user[] = USER_NAME; wrong += sizeof user != sizeof expected || \\\n"
        "  memcmp(user, expected, sizeof user) != 0 || guid[0] != 0x9E || sizeof date != 25 || COMPILE_TIME_DATE_INT != 0; }\n"
        "int main(void) {\n  int wrong = 0;\n";
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        const std::string header = formatStampHeader(rows[i].first, fixedStamp(0, rows[i].second)), h = std::to_string(i);
        EXPECT_EQ(std::count(header.begin(), header.end(), '\n'), std::count(plain.begin(), plain.end(), '\n')) << rows[i].first;
        std::ofstream(dir + "/h" + h + ".h", std::ios::binary) << header;
        program += "#include \"h" + h + ".h\"\n#include \"h" + h + ".h\"\nCHECK(\"";
        for (const unsigned char c : rows[i].second) program += {'\\', char('0' + (c >> 6)), char('0' + (c >> 3 & 7)), char('0' + (c & 7))};
        program += "\")\n#undef VENTRIM_H\n";
        for (const StampMacro& macro : stampMacros(fixedStamp(0))) program += std::string("#undef ") + macro.name + '\n';
    }
    std::ofstream(dir + "/main.c") << program << "  return wrong;\n}\n";

    std::vector<std::thread> compilers;  // one a compiler, through its standards
    for (const std::string c : {"gcc", "g++", "clang", "clang++"})
        if (std::system(("command -v " + c + " > /dev/null").c_str()) == 0) compilers.emplace_back([c, dir, n = 0]() mutable {
            for (const std::string mode : {"c -std=c89", "c -std=c99", "c -std=c11", "c++ -std=c++98", "c++ -std=c++17"}) {
                for (const std::string trigraphs : {"", " -trigraphs"}) {
                    const std::string out = dir + "/" + c + std::to_string(n++), command = c + " -x " + mode + trigraphs +
                        " -Wall -Wextra -Wpedantic -Werror -o " + out + " " + dir + "/main.c && " + out;
                    EXPECT_TRUE((mode[1] == '+') != (c.back() == '+') || std::system(command.c_str()) == 0) << command;
                }
            }
        });
    EXPECT_GE(compilers.size(), 2u) << "no C and C++ compiler found";
    for (auto& t : compilers) t.join();
    std::filesystem::remove_all(dir);
}

// git's status read as the header's two values or as no commit; settings that turn off what a configuration names; Windows' quoting.
TEST(Revision, StatusSettingsAndArguments) {
    const std::string commit(40, 'f'), branch = "# branch.oid " + commit + '\0' + "# branch.head main" + '\0';
    const struct { std::string out; int modified; } rows[] = {
        {branch, 0}, {branch + "1 .M N... 100644 100644 100644 0 0 f" + '\0', 1},
        {"# branch.oid " + std::string(64, '0') + '\0' + "u UU N... f" + '\0', 1}, {"# branch.oid (initial)", -1},
        {"# branch.oid " + std::string(40, 'F'), -1}, {"# branch.oid " + std::string(41, 'f'), -1}, {"1 x", -1}};
    for (const auto& row : rows) {
        SourceRevision revision{"x", 7};
        EXPECT_EQ(parseGitStatus(row.out, revision), row.modified >= 0) << row.out;
        EXPECT_EQ(revision.modified, row.modified) << row.out;
        EXPECT_EQ(revision.commit.size(), row.modified < 0 ? 0 : row.out.find('\0') - 13) << row.out;
    }
    std::string settings;
    ASSERT_TRUE(safetySettings(std::string("filter.a b.c.clean\0protocol.allow\0protocol.ssh.allow", 51), settings));
    std::string joined = settings;
    std::replace(joined.begin(), joined.end(), '\0', ' ');
    for (const char* s : {"-c core.fsmonitor=false ", "-c protocol.allow=never ", "-c filter.a b.c.clean= ", "-c filter.a b.c.smudge= ",
                          "-c filter.a b.c.process= ", "-c filter.a b.c.required=false ", "-c protocol.ssh.allow=never "})
        EXPECT_NE(joined.find(s), std::string::npos) << s;
    EXPECT_FALSE(safetySettings("filter.a=b.clean", settings));
    const std::pair<std::string, std::string> arguments[] = {{"a\\b", "a\\b"}, {"", "\"\""}, {"C:\\a b\\", "\"C:\\a b\\\\\""},
        {"a\\\"b", "\"a\\\\\\\"b\""}, {"a\tb", "\"a\tb\""}};
    for (const auto& [text, quoted] : arguments) EXPECT_EQ(quotedArgument(text), quoted) << text;
}
