// How the header replaces a file on Windows: which file a path reaches, and
// whether a plain write would open it. write_file_win32.cpp then has a
// temporary file beside it take its place, or rewrite_win32.cpp rewrites it.
#include <windows.h>

#include <cwchar>

#include "platform.h"
#include "write_file_win32.h"

namespace ventrim::platform {

namespace {

bool startsWith(const std::wstring& text, const wchar_t* prefix) { return text.compare(0, wcslen(prefix), prefix) == 0; }

// The form of path the file calls take. As given, unless the temporary file
// beside it (at most 14 characters longer) would pass MAX_PATH; then the full
// path with the \\?\ prefix, which lifts that limit. A path in the device or
// NT namespace (\\.\, \\?\, \??\ prefixes) stays as given, whatever its length.
std::wstring longPathForm(const std::wstring& path) {
    if (startsWith(path, L"\\\\.\\") || startsWith(path, L"\\\\?\\") || startsWith(path, L"\\??\\")) return path;
    std::wstring full(32768, L'\0');
    const DWORD len = GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), &full[0], nullptr);
    if (len == 0 || len >= full.size() || len + 14 < MAX_PATH) return path;
    full.resize(len);
    if (startsWith(full, L"\\\\.\\") || startsWith(full, L"\\\\?\\")) return path;
    if (startsWith(full, L"\\\\")) return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

// Text mode: every line end becomes CR LF.
std::string withCrLf(const std::string& text) {
    std::string out;
    out.reserve(text.size() + 16);
    for (const char c : text) {
        if (c == '\n') out += '\r';
        out += c;
    }
    return out;
}

// Where the open file is, as the file calls take it: a symbolic link leads
// to the file it names, as on POSIX, so the file reached is the one replaced.
std::wstring finalPath(HANDLE file, const std::wstring& named) {
    std::wstring target(32768, L'\0');
    const DWORD len = GetFinalPathNameByHandleW(file, &target[0], static_cast<DWORD>(target.size()),
                                                FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (len == 0 || len >= target.size()) return named;
    target.resize(len);
    return target;
}

}  // namespace

// Opens an existing file as the C runtime's fopen opens it for writing (write
// access, sharing reading and writing), so it succeeds exactly where a plain
// write would. Another process (a compiler, a virus scanner) may hold the
// file without sharing writing for a moment; that is waited for, about two
// seconds in all, rather than fail the build at once.
HANDLE openAsPlainWrite(const std::wstring& path) {
    for (int attempt = 0;; ++attempt) {
        const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_SHARING_VIOLATION || attempt == 100) return file;
        Sleep(20);
    }
}

bool fileHolds(const FilePath& path, const std::string& contents) {
    const std::wstring named = longPathForm(path);
    const HANDLE file = CreateFileW(named.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    const std::string expected = withCrLf(contents);
    LARGE_INTEGER size{};
    std::string held(expected.size() + 1, '\0');
    DWORD got = 0;
    const bool same = GetFileType(file) == FILE_TYPE_DISK && GetFileSizeEx(file, &size) &&
                      size.QuadPart == static_cast<LONGLONG>(expected.size()) &&
                      ReadFile(file, &held[0], static_cast<DWORD>(held.size()), &got, nullptr) &&
                      held.compare(0, got, expected) == 0 && got == expected.size();
    CloseHandle(file);
    return same;
}

namespace {

WriteResult replaceAt(const FilePath& path, const std::string& contents) {
    if (path.empty()) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return WriteResult::openFailed;
    }
    const std::string data = withCrLf(contents);
    const std::wstring named = longPathForm(path);
    // The open a plain write makes shows that one would succeed. A device
    // (NUL, a console, a pipe) is written through it, so it is opened once: a
    // pipe server with one instance has no second connection to give.
    const HANDLE file = openAsPlainWrite(named);
    if (file == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_FILE_NOT_FOUND ? createHeader(named, data) : WriteResult::openFailed;
    if (GetFileType(file) != FILE_TYPE_DISK) return writeAndClose(file, data);
    const std::wstring target = finalPath(file, named);
    CloseHandle(file);
    return replaceHeader(target, data);
}

// The system's text for error, for the line on standard error.
std::string causeText(DWORD failedWith) {
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        failedWith, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring message = length != 0 ? std::wstring(text, length) : L"error " + std::to_wstring(failedWith);
    LocalFree(text);
    while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' || message.back() == L' ' ||
                                message.back() == L'.')) {
        message.pop_back();
    }
    return utf8Text(message);
}

}  // namespace

WriteResult replaceFile(const FilePath& path, const std::string& contents, std::string& cause) {
    const WriteResult result = replaceAt(path, contents);
    const DWORD error = GetLastError();
    if (result != WriteResult::ok && error != 0) cause = causeText(error);
    return result;
}

}  // namespace ventrim::platform
