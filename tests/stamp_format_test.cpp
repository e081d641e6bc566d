// The pure parts: date text, escaping, and the header bytes from fixed stamps.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>

#include "build_stamp.h"
#include "stamp_header.h"

using namespace ventrim;

namespace {

std::tm makeTm(int year, int mon, int mday, int hour, int min, int sec, int wday) {
    std::tm t{};
    t.tm_year = year - 1900, t.tm_mon = mon, t.tm_mday = mday, t.tm_hour = hour, t.tm_min = min, t.tm_sec = sec;
    t.tm_wday = wday;
    return t;
}

BuildStamp fixedStamp(std::int64_t compileTime, std::string userName = "builder") {
    BuildStamp s;
    s.codeGuid = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                  0x9E, 0x05, 0xAB, 0x00, 0x10, 0x7F, 0xC3, 0xFF};
    s.userName = std::move(userName);
    s.compileTime = compileTime;
    s.compileTimeDateStr = formatDateText(makeTm(2023, 10, 3, 8, 26, 40, 5));
    return s;
}

}  // namespace

TEST(DateText, EveryNameAndFieldInRangeAndOut) {
    const struct {
        std::tm local;
        const char* text;
    } rows[] = {
        {makeTm(2023, 0, 1, 0, 0, 0, 0), "Sun Jan 01 00:00:00 2023"}, {makeTm(2023, 1, 9, 1, 2, 3, 1), "Mon Feb 09 01:02:03 2023"},
        {makeTm(2023, 2, 10, 9, 10, 11, 2), "Tue Mar 10 09:10:11 2023"}, {makeTm(2023, 3, 30, 10, 59, 59, 3), "Wed Apr 30 10:59:59 2023"},
        {makeTm(2023, 4, 31, 23, 0, 60, 4), "Thu May 31 23:00:60 2023"}, {makeTm(2023, 5, 3, 8, 26, 40, 5), "Fri Jun 03 08:26:40 2023"},
        {makeTm(1970, 6, 4, 12, 0, 0, 6), "Sat Jul 04 12:00:00 1970"}, {makeTm(9999, 7, 5, 0, 0, 0, 0), "Sun Aug 05 00:00:00 9999"},
        {makeTm(1900, 8, 6, 0, 0, 0, 1), "Mon Sep 06 00:00:00 1900"}, {makeTm(2000, 9, 7, 0, 0, 0, 2), "Tue Oct 07 00:00:00 2000"},
        {makeTm(2023, 10, 3, 8, 26, 40, 5), "Fri Nov 03 08:26:40 2023"}, {makeTm(1999, 11, 31, 23, 59, 60, 6), "Sat Dec 31 23:59:60 1999"},
        // Each field just outside its range: the text keeps its length.
        {makeTm(2023, 12, 1, 0, 0, 0, 7), "??? ??? 01 00:00:00 2023"}, {makeTm(2023, -1, 1, 0, 0, 0, -1), "??? ??? 01 00:00:00 2023"},
        {makeTm(2023, 0, 0, 24, 60, 61, 0), "Sun Jan ?? ??:??:?? 2023"}, {makeTm(2023, 0, 32, -1, -1, -1, 0), "Sun Jan ?? ??:??:?? 2023"},
        {makeTm(10000, 0, 1, 0, 0, 0, 0), "Sun Jan 01 00:00:00 ????"}, {makeTm(-1, 0, 1, 0, 0, 0, 0), "Sun Jan 01 00:00:00 ????"},
    };
    for (const auto& row : rows) {
        const auto text = formatDateText(row.local);
        EXPECT_EQ(std::string(text.begin(), text.end()), row.text);
    }
    std::tm extreme = makeTm(2000, 0, 1, 0, 0, 0, 0);
    extreme.tm_year = 2147483647;  // must not overflow when 1900 is added
    EXPECT_EQ(std::string(formatDateText(extreme).data() + 20, 4), "????");
    const auto unknown = unknownDateText();
    EXPECT_EQ(std::string(unknown.begin(), unknown.end()), "??? ??? ?? ??:??:?? ????");
}

TEST(UserName, ClampedTo79BytesOnACharacterBoundary) {
    EXPECT_EQ(clampUserName(std::string(79, 'a')), std::string(79, 'a'));
    EXPECT_EQ(clampUserName(std::string(200, 'a')), std::string(79, 'a'));
    // "é" is two bytes; one starting at byte 78 would be cut in half.
    EXPECT_EQ(clampUserName(std::string(78, 'a') + "\xC3\xA9xyz"), std::string(78, 'a'));
}

TEST(Escaping, CommentAndStringLiteral) {
    // Trigraphs in these literals are written "?\?" so that this file means
    // the same with trigraphs on or off.
    const struct {
        std::string in, comment, literal;
    } rows[] = {
        {"include/stamp.h", "include/stamp.h", "include/stamp.h"},
        {"a*/b/*c", "a*\\/b/\\*c", "a*/b/*c"},
        {"/*/", "/\\*\\/", "/*/"},
        {"**//%s", "**\\//%s", "**//%s"},
        {"a\"b\\c", "a\"b\\c", "a\\\"b\\\\c"},
        {"a?\?-b?\?/", "a?\\?-b?\\?/", "a?\\?-b?\\?/"},
        {"???", "?\\?\\?", "?\\?\\?"},
        {std::string("\n\x01\x1F\x7F" "7", 5), "\\012\\001\\037\\1777", "\\012\\001\\037\\1777"},
        {"a*\\\n/h.h", "a*\\\\012/h.h", "a*\\\\\\012/h.h"},
        // Well-formed UTF-8 of two, three and four bytes stays as it is.
        {"J\xC3\xBCrgen \xE2\x82\xAC \xF0\x9F\x98\x80", "J\xC3\xBCrgen \xE2\x82\xAC \xF0\x9F\x98\x80",
         "J\xC3\xBCrgen \xE2\x82\xAC \xF0\x9F\x98\x80"},
        // Latin-1, overlong forms, a surrogate, beyond U+10FFFF, a cut sequence.
        {"jos\xE9", "jos\xE9", "jos\\351"},
        {"\xC0\xAF\xE0\x9F\xBF", "\xC0\xAF\xE0\x9F\xBF", "\\300\\257\\340\\237\\277"},
        {"\xED\xA0\x80\xF4\x90\x80\x80", "\xED\xA0\x80\xF4\x90\x80\x80", "\\355\\240\\200\\364\\220\\200\\200"},
        {"\xF0\x90\x80\xF5\xE0\xA0", "\xF0\x90\x80\xF5\xE0\xA0", "\\360\\220\\200\\365\\340\\240"},
        {"\xED\x9F\xBF\xF4\x8F\xBF\xBF\xE0\xA0\x80", "\xED\x9F\xBF\xF4\x8F\xBF\xBF\xE0\xA0\x80",
         "\xED\x9F\xBF\xF4\x8F\xBF\xBF\xE0\xA0\x80"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(commentSafePath(row.in), row.comment) << row.in;
        EXPECT_EQ(stringLiteralBody(row.in), row.literal) << row.in;
    }
}

TEST(Header, FourteenLinesByteForByte) {
    EXPECT_EQ(formatStampHeader("out/stamp.h", fixedStamp(1700000000)),
              "/*\n"
              " * out/stamp.h \n"
              " * ================================================== \n"
              " * automatically generated by Ventrim - build stamps for C and C++\n"
              "*/\n"
              "\n"
              "#ifndef VENTRIM_H\n"
              "#define VENTRIM_H\n"
              "\n"
              "#define CODE_GUID {0x9E,0x05,0xAB,0x00,0x10,0x7F,0xC3,0xFF}\n"
              "#define COMPILE_TIME_DATE_STR \"Fri Nov 03 08:26:40 2023\"\n"
              "#define COMPILE_TIME_DATE_INT 0x6553F100\n"
              "#define USER_NAME \"builder\"\n"
              "#endif\n");
}

TEST(Header, ClockKeepsOnlyItsLow32Bits) {
    for (const auto& [clock, hex] : {std::pair<std::int64_t, std::string>{0, "0x00000000"}, {4294967296LL, "0x00000000"},
                                     {4294967297LL, "0x00000001"}, {-1, "0xFFFFFFFF"}}) {
        const std::string h = formatStampHeader("s.h", fixedStamp(clock));
        EXPECT_EQ(h.substr(h.find("_INT ") + 5, 10), hex);
    }
}

// Hostile paths and user names: each header stays fourteen lines, compiles
// without a warning as C89, C99, C11, C++98 and C++17 with every compiler
// found, trigraphs on and off, and its USER_NAME holds exactly the name's bytes.
TEST(Header, HostileHeadersCompileToTheExactName) {
    const struct {
        std::string path, user;
    } rows[] = {
        {"a/*b*/c/*/d\\", "we\"ird\\ \n\tname %d \x7F"},
        {"a*\\\n/h.h", "a?\?-b?\?/"},
        {"x\ny.h", "jos\xE9"},
        {"?\?/\n", "?\?\?/\xED\xA0\x80"},
        {"a?\?/", "\xF0\x9F\x98\x80\xC3"},
        {"d\\\r\n", "x?"},
    };
    const std::string dir = ::testing::TempDir() + "ventrim-compile-" + std::to_string(getpid());
    std::filesystem::create_directories(dir);
    std::ostringstream program;
    program << "#include <string.h>\nstatic int wrong = 0;\n";
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        const std::string header = formatStampHeader(rows[i].path, fixedStamp(0, rows[i].user));
        EXPECT_EQ(std::count(header.begin(), header.end(), '\n'), 14) << rows[i].path;
        std::ofstream(dir + "/h" + std::to_string(i) + ".h", std::ios::binary) << header;
        std::ostringstream bytes;
        for (const char c : rows[i].user) bytes << static_cast<int>(static_cast<unsigned char>(c)) << ",";
        program << "#include \"h" << i << ".h\"\n#include \"h" << i << ".h\"\n"
                << "static void check" << i << "(void) {\n"
                << "  static const unsigned char guid[8] = CODE_GUID;\n"
                << "  static const char date[] = COMPILE_TIME_DATE_STR;\n"
                << "  static const char user[] = USER_NAME;\n"
                << "  static const unsigned char expected[] = {" << bytes.str() << "0};\n"
                << "  unsigned long t = COMPILE_TIME_DATE_INT;\n"
                << "  wrong += sizeof user != sizeof expected || memcmp(user, expected, sizeof user) != 0;\n"
                << "  wrong += guid[0] != 0x9E || sizeof date != 25 || t != 0;\n}\n"
                << "#undef VENTRIM_H\n#undef CODE_GUID\n#undef COMPILE_TIME_DATE_STR\n"
                << "#undef COMPILE_TIME_DATE_INT\n#undef USER_NAME\n";
    }
    program << "int main(void) {\n";
    for (std::size_t i = 0; i < std::size(rows); ++i) program << "  check" << i << "();\n";
    program << "  return wrong;\n}\n";
    std::ofstream(dir + "/main.c") << program.str();

    // One thread a compiler, each through its standards with trigraphs off and on.
    std::vector<std::thread> compilers;
    for (const std::string c : {"gcc", "g++", "clang", "clang++"}) {
        if (std::system(("command -v " + c + " > /dev/null").c_str()) != 0) continue;
        compilers.emplace_back([c, dir] {
            const bool cxx = c.back() == '+';
            for (const char* standard : cxx ? std::vector<const char*>{"c++98", "c++17"}
                                            : std::vector<const char*>{"c89", "c99", "c11"}) {
                for (const char* trigraphs : {"", " -trigraphs"}) {
                    const std::string out = dir + "/" + c + standard + (*trigraphs ? "t" : "");
                    const std::string command = c + " -x " + (cxx ? "c++" : "c") + " -std=" + standard + trigraphs +
                                                " -Wall -Wextra -Wpedantic -Werror -o " + out + " " + dir + "/main.c && " + out;
                    EXPECT_EQ(std::system(command.c_str()), 0) << command;
                }
            }
        });
    }
    EXPECT_GE(compilers.size(), 2u) << "no C and C++ compiler found";
    for (auto& t : compilers) t.join();
    std::filesystem::remove_all(dir);
}
