// Where the stamp's values come from on Windows, and the process's setup.
#include <windows.h>
#include <ntsecapi.h>
#include <rpc.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "build_stamp.h"
#include "platform.h"

// The C runtime's split of the wide command line (msvcrt.dll exports it; the
// runtime's headers do not declare it). The last argument is its _startupinfo,
// a struct of one int.
extern "C" int __cdecl __wgetmainargs(int* argc, wchar_t*** argv, wchar_t*** env, int expandWildcards,
                                      int* startInfo);

namespace ventrim::platform {

std::array<std::uint8_t, 16> createUuid() {
    std::array<std::uint8_t, 16> bytes{};
    UUID uuid{};
    const RPC_STATUS status = UuidCreate(&uuid);
    if (status == RPC_S_OK || status == RPC_S_UUID_LOCAL_ONLY) {
        static_assert(sizeof uuid == 16, "a UUID is 16 bytes");
        std::memcpy(bytes.data(), &uuid, sizeof uuid);
        return bytes;
    }
    // The RPC generator failed: take the system's random bytes, or as a last
    // resort a mix of the clocks and the process id, which still differs per run.
    if (!RtlGenRandom(bytes.data(), static_cast<ULONG>(bytes.size()))) {
        LARGE_INTEGER counter{};
        QueryPerformanceCounter(&counter);
        std::uint64_t state =
            static_cast<std::uint64_t>(counter.QuadPart) ^ GetTickCount64() << 20 ^ GetCurrentProcessId();
        for (std::size_t i = 0; i < bytes.size(); i += 4) {
            state = state * 6364136223846793005u + 1442695040888963407u;
            const auto r = static_cast<std::uint32_t>(state >> 32);
            std::memcpy(&bytes[i], &r, 4);
        }
    }
    markVersion4(bytes);
    return bytes;
}

std::string accountName() {
    char name[kMaxUserNameBytes + 1] = {};
    DWORD size = sizeof name;
    return GetUserNameA(name, &size) ? std::string(name) : std::string();
}

namespace {

// The C runtime's own split of the wide command line, by the rules it splits
// the ANSI one by, and the wide environment; asked once.
struct WideMainArgs {
    int argc = 0;
    wchar_t** argv = nullptr;
    wchar_t** env = nullptr;
};

const WideMainArgs& wideMainArgs() {
    static const WideMainArgs args = [] {
        WideMainArgs split;
        int newMode = 0;
        if (__wgetmainargs(&split.argc, &split.argv, &split.env, 0, &newMode) != 0) split = WideMainArgs();
        return split;
    }();
    return args;
}

bool plainAscii(const wchar_t* text) {
    for (; *text != L'\0'; ++text) {
        if (*text >= 0x80) return false;
    }
    return true;
}

}  // namespace

FilePath fileArgument(int argc, char** /*argv*/, int index) {
    const WideMainArgs& wide = wideMainArgs();
    return wide.argc == argc ? FilePath(wide.argv[index]) : FilePath();
}

bool plainArgument(int argc, char** /*argv*/, int index, std::size_t length) {
    const WideMainArgs& wide = wideMainArgs();
    if (wide.argc != argc) return false;
    const std::wstring_view text = wide.argv[index];
    return plainAscii(std::wstring(text.substr(0, length)).c_str());
}

char** environment(char** envp) {
    static std::vector<std::string> entries;
    static std::vector<char*> pointers;
    const WideMainArgs& wide = wideMainArgs();
    if (wide.env == nullptr) return envp;
    if (pointers.empty()) {
        for (wchar_t** entry = wide.env; *entry != nullptr; ++entry) entries.push_back(utf8Text(*entry));
        for (std::string& entry : entries) pointers.push_back(&entry[0]);
        pointers.push_back(nullptr);
    }
    return pointers.data();
}

std::string utf8Text(const FilePath& path) {
    const int length = static_cast<int>(path.size());
    // The size is never negative: 0 on failure.
    const int size = WideCharToMultiByte(CP_UTF8, 0, path.data(), length, nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<std::size_t>(size), '\0');
    if (!text.empty()) {
        WideCharToMultiByte(CP_UTF8, 0, path.data(), length, &text[0], static_cast<int>(text.size()), nullptr, nullptr);
    }
    return text;
}

namespace {

// Whether the C runtime reads zone as it documents TZ: tzn[+|-]hh[:mm[:ss]][dzn],
// names of three letters, hours to 24, minutes and seconds to 59; or as a
// bare name, which it reads as offset 0: right for UTC and GMT. It reads
// anything else too, wrongly: Europe/Berlin or EST as UTC, <+0530>-5:30 as
// 530 hours.
bool runtimeReadsZone(const char* zone) {
    if (std::strcmp(zone, "UTC") == 0 || std::strcmp(zone, "GMT") == 0) return true;
    const auto name = [&zone] {
        for (int i = 0; i < 3; ++i, ++zone) {
            if (!((*zone >= 'A' && *zone <= 'Z') || (*zone >= 'a' && *zone <= 'z'))) return false;
        }
        return true;
    };
    const auto number = [&zone](int max) {
        if (*zone < '0' || *zone > '9') return false;
        int value = *zone++ - '0';
        if (*zone >= '0' && *zone <= '9') value = value * 10 + (*zone++ - '0');
        return value <= max;
    };
    if (!name()) return false;
    if (*zone == '+' || *zone == '-') ++zone;
    if (!number(24)) return false;
    for (int part = 0; part < 2 && *zone == ':'; ++part) {  // minutes, then seconds
        ++zone;
        if (!number(59)) return false;
    }
    return *zone == '\0' || (name() && *zone == '\0');
}

}  // namespace

// Windows raises no signal for a closed or full standard output. A TZ the
// runtime cannot read (a zone name a Unix-like shell sets) is dropped before
// the runtime first reads it (some runtimes do so for the clock), and the zone
// chosen in Windows' settings is used instead.
void initProcess() {
    // Judged by the text as the system holds it: a look-alike in the ANSI
    // text (a fullwidth digit shown as a digit) is no part of a zone.
    const wchar_t* wideZone = _wgetenv(L"TZ");
    const char* zone = std::getenv("TZ");
    if (zone != nullptr && *zone != '\0' && (wideZone == nullptr || !plainAscii(wideZone) || !runtimeReadsZone(zone)))
        _putenv("TZ=");
}

void report(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

void reportError(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
}

std::int64_t clockSeconds() { return static_cast<std::int64_t>(_time64(nullptr)); }

bool toLocalTime(std::int64_t seconds, std::tm& local) {
    const __time64_t t = seconds;
    return _localtime64_s(&local, &t) == 0;
}

}  // namespace ventrim::platform
