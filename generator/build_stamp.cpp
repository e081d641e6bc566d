#include "build_stamp.h"

#include <algorithm>

#include "platform.h"

namespace ventrim {

namespace {

constexpr const char* kWeekdays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

void putName(char* out, const char* const* names, int count, int index) {
    const char* name = (index >= 0 && index < count) ? names[index] : "???";
    out[0] = name[0];
    out[1] = name[1];
    out[2] = name[2];
}

// Writes value as `width` zero-padded digits, or '?' when it does not fit.
void putNumber(char* out, int width, int value, int min, int max) {
    const bool fits = value >= min && value <= max;
    for (int i = width - 1; i >= 0; --i) {
        out[i] = fits ? static_cast<char>('0' + value % 10) : '?';
        value /= 10;
    }
}

}  // namespace

std::array<char, kDateTextLength> formatDateText(const std::tm& local) {
    // "Www Mmm dd hh:mm:ss yyyy"
    std::array<char, kDateTextLength> text{};
    char* p = text.data();
    putName(p, kWeekdays, 7, local.tm_wday);
    p[3] = ' ';
    putName(p + 4, kMonths, 12, local.tm_mon);
    p[7] = ' ';
    putNumber(p + 8, 2, local.tm_mday, 1, 31);
    p[10] = ' ';
    putNumber(p + 11, 2, local.tm_hour, 0, 23);
    p[13] = ':';
    putNumber(p + 14, 2, local.tm_min, 0, 59);
    p[16] = ':';
    putNumber(p + 17, 2, local.tm_sec, 0, 60);  // 60: a leap second
    p[19] = ' ';
    // tm_year counts from 1900; guard the addition against overflow.
    const int year = local.tm_year <= 9999 - 1900 ? local.tm_year + 1900 : -1;
    putNumber(p + 20, 4, year, 0, 9999);
    return text;
}

std::array<char, kDateTextLength> unknownDateText() {
    static constexpr char kUnknown[] = "??? ??? ?? ??:??:?? ????";
    std::array<char, kDateTextLength> text{};
    std::copy(kUnknown, kUnknown + kDateTextLength, text.begin());
    return text;
}

std::string clampUserName(std::string name) {
    if (name.size() > kMaxUserNameBytes) {
        std::size_t end = kMaxUserNameBytes;
        // Step back over UTF-8 continuation bytes so no character is cut in half.
        while (end > 0 && (static_cast<unsigned char>(name[end]) & 0xC0) == 0x80) --end;
        name.resize(end);
    }
    return name;
}

void markVersion4(std::array<std::uint8_t, 16>& uuid) {
    uuid[6] = static_cast<std::uint8_t>((uuid[6] & 0x0F) | 0x40);
    uuid[8] = static_cast<std::uint8_t>((uuid[8] & 0x3F) | 0x80);
}

void createCodeGuid(BuildStamp& stamp) { stamp.codeGuid = platform::createUuid(); }

void queryUserName(BuildStamp& stamp) { stamp.userName = clampUserName(platform::accountName()); }

void readCompileTime(BuildStamp& stamp) {
    stamp.compileTime = platform::clockSeconds();
    std::tm local{};
    stamp.compileTimeDateStr =
        platform::toLocalTime(stamp.compileTime, local) ? formatDateText(local) : unknownDateText();
}

}  // namespace ventrim
