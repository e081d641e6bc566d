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

std::uint32_t rotateLeft(std::uint32_t x, int n) { return x << n | x >> (32 - n); }

std::array<std::uint8_t, 20> sha1(const std::string& message) {
    std::uint32_t h[5] = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};
    std::string m = message + '\x80';
    m.append((119 - message.size() % 64) % 64, '\0');
    const std::uint64_t bits = static_cast<std::uint64_t>(message.size()) * 8;
    for (int i = 7; i >= 0; --i) m += static_cast<char>(bits >> (i * 8));
    for (std::size_t block = 0; block < m.size(); block += 64) {
        std::uint32_t w[80];
        for (std::size_t i = 0; i < 16; ++i) {
            w[i] = 0;
            for (std::size_t j = 0; j < 4; ++j) w[i] = w[i] << 8 | static_cast<std::uint8_t>(m[block + 4 * i + j]);
        }
        for (int i = 16; i < 80; ++i) w[i] = rotateLeft(w[i - 3] ^ w[i - 8] ^ w[i - 14] ^ w[i - 16], 1);
        std::uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4];
        for (int i = 0; i < 80; ++i) {
            const std::uint32_t f = i < 20 ? (b & c) | (~b & d) : i < 40 || i >= 60 ? b ^ c ^ d : (b & c) | (b & d) | (c & d);
            const std::uint32_t k = i < 20 ? 0x5A827999 : i < 40 ? 0x6ED9EBA1 : i < 60 ? 0x8F1BBCDC : 0xCA62C1D6;
            const std::uint32_t t = rotateLeft(a, 5) + f + e + k + w[i];
            e = d, d = c, c = rotateLeft(b, 30), b = a, a = t;
        }
        h[0] += a, h[1] += b, h[2] += c, h[3] += d, h[4] += e;
    }
    std::array<std::uint8_t, 20> digest{};
    for (std::size_t i = 0; i < 20; ++i) digest[i] = static_cast<std::uint8_t>(h[i / 4] >> (24 - 8 * (i % 4)));
    return digest;
}

// The namespace of the GUIDs named by SOURCE_DATE_EPOCH and a header path.
constexpr std::array<std::uint8_t, 16> kStampNamespace = {0x71, 0xd4, 0xf4, 0x3e, 0x8c, 0xcc, 0x40, 0xd6,
                                                          0xaf, 0x55, 0x7a, 0xa0, 0x71, 0x06, 0xf8, 0xa5};

}  // namespace

bool parseSourceDateEpoch(const std::string& text, std::int64_t& seconds) {
    if (text.empty()) return false;
    std::int64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
        if (value > kLatestSourceDateEpoch) return false;
    }
    seconds = value;
    return true;
}

std::tm utcTime(std::int64_t seconds) {
    std::tm t{};
    std::int64_t days = seconds / 86400;
    const auto inDay = static_cast<int>(seconds % 86400);
    t.tm_hour = inDay / 3600, t.tm_min = inDay / 60 % 60, t.tm_sec = inDay % 60;
    t.tm_wday = static_cast<int>((days + 4) % 7);  // 1970-01-01 was a Thursday
    // Days to a civil date, with years that begin on March 1st so that the
    // leap day is the last of a year (Howard Hinnant's algorithm).
    days += 719468;
    const std::int64_t era = days / 146097, dayOfEra = days % 146097;
    const std::int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const std::int64_t monthFromMarch = (5 * dayOfYear + 2) / 153;
    t.tm_mday = static_cast<int>(dayOfYear - (153 * monthFromMarch + 2) / 5 + 1);
    t.tm_mon = static_cast<int>(monthFromMarch < 10 ? monthFromMarch + 2 : monthFromMarch - 10);
    t.tm_year = static_cast<int>(era * 400 + yearOfEra + (t.tm_mon < 2 ? 1 : 0) - 1900);
    return t;
}

std::array<std::uint8_t, 16> nameBasedUuid(const std::array<std::uint8_t, 16>& namespaceId, const std::string& name) {
    const auto digest = sha1(std::string(namespaceId.begin(), namespaceId.end()) + name);
    std::array<std::uint8_t, 16> uuid{};
    std::copy_n(digest.begin(), 16, uuid.begin());
    uuid[6] = static_cast<std::uint8_t>((uuid[6] & 0x0F) | 0x50);
    uuid[8] = static_cast<std::uint8_t>((uuid[8] & 0x3F) | 0x80);
    return uuid;
}

void setReproducibleStamp(std::int64_t seconds, const std::string& path, BuildStamp& stamp) {
    // Bytes 8..15 reach the header; they are the same in every layout.
    stamp.codeGuid = nameBasedUuid(kStampNamespace, std::to_string(seconds) + '\n' + path);
    stamp.userName.clear();
    stamp.compileTime = seconds;
    stamp.compileTimeDateStr = formatDateText(utcTime(seconds));
    stamp.reproducible = true;
}

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

std::size_t characterCut(const std::string& text, std::size_t limit) {
    const auto continues = [&](std::size_t i) { return (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80; };
    if (text.size() <= limit) return text.size();
    if (!continues(limit)) return limit;
    std::size_t start = limit;  // back to the lead byte of the sequence the cut falls in
    while (start > 0 && limit - start < 3 && continues(start)) --start;
    const unsigned lead = static_cast<unsigned char>(text[start]);
    const std::size_t length = lead >= 0xF0 && lead <= 0xF4 ? 4 : lead >= 0xE0 && lead <= 0xEF ? 3 : lead >= 0xC2 && lead <= 0xDF ? 2 : 0;
    return start + length > limit ? start : limit;
}

std::string clampUserName(std::string name) {
    name.resize(characterCut(name, kMaxUserNameBytes));
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
