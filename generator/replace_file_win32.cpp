// How the header replaces a file on Windows: opened first as a plain write
// opens it, then a temporary file beside it takes its place.
#include <windows.h>

#include <cstdint>
#include <cwchar>

#include "move_over_win32.h"
#include "platform.h"

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

std::size_t directoryLength(const std::wstring& path) {
    const auto sep = path.find_last_of(L"\\/:");
    return sep == std::wstring::npos ? 0 : sep + 1;
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

bool writeAll(HANDLE file, const char* p, std::size_t left) {
    while (left > 0) {
        DWORD written = 0;
        const DWORD chunk = left > 0x10000000 ? 0x10000000 : static_cast<DWORD>(left);
        if (!WriteFile(file, p, chunk, &written, nullptr) || written == 0) return false;
        p += written;
        left -= written;
    }
    return true;
}

WriteResult writeAndClose(HANDLE file, const std::string& data) {
    const bool written = writeAll(file, data.data(), data.size());
    const bool closed = CloseHandle(file) != 0;
    return written && closed ? WriteResult::ok : WriteResult::writeFailed;
}


// Offsets and file sizes are 64-bit on every build: a header may be larger
// than 4 GiB, more than a 32-bit size_t holds.
bool writeAt(HANDLE file, std::uint64_t offset, const char* data, std::size_t size) {
    LARGE_INTEGER at{};
    at.QuadPart = static_cast<LONGLONG>(offset);
    return SetFilePointerEx(file, at, nullptr, FILE_BEGIN) && writeAll(file, data, size);
}

bool endAt(HANDLE file, std::uint64_t size) {
    LARGE_INTEGER at{};
    at.QuadPart = static_cast<LONGLONG>(size);
    return SetFilePointerEx(file, at, nullptr, FILE_BEGIN) && SetEndOfFile(file);
}

// Rewrites an open file so that its old contents survive a failure: the part
// beyond the old end first, cut off again if that fails; then the existing
// bytes, which need no new space; then the end, where it moves.
WriteResult overwrite(HANDLE file, const std::string& data) {
    LARGE_INTEGER oldSize{};
    bool ok = GetFileSizeEx(file, &oldSize) != 0;
    if (ok) {
        const auto old = static_cast<std::uint64_t>(oldSize.QuadPart);
        const std::size_t kept = data.size() < old ? data.size() : static_cast<std::size_t>(old);
        ok = writeAt(file, kept, data.data() + kept, data.size() - kept);
        if (!ok) {
            const DWORD error = GetLastError();
            endAt(file, old);
            SetLastError(error);
        }
        // The end is set only where the file must shrink: Wine's server
        // writes a zero byte past the end before it cuts a file to its size.
        ok = ok && writeAt(file, 0, data.data(), kept) && (data.size() >= old || endAt(file, data.size()));
    }
    const bool closed = CloseHandle(file) != 0;
    return ok && closed ? WriteResult::ok : WriteResult::writeFailed;
}

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

WriteResult rewriteInPlace(const std::wstring& path, const std::string& data) {
    const HANDLE file = openAsPlainWrite(path);
    return file == INVALID_HANDLE_VALUE ? WriteResult::writeFailed : overwrite(file, data);
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

// A new file beside path to hold the header, with the given attributes, the
// right to delete it (where the folder grants making files but not removing
// them, none is made, so none is left behind) and to set its ACL; marked to
// be removed when closed, so that a killed run leaves none. It shares all a
// reader may ask: its handle is closed as soon as the file has the header's
// name, but a compile may open it before then.
HANDLE createTemporary(const std::wstring& path, std::size_t dirLength, DWORD attributes) {
    HANDLE file = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < 16 && file == INVALID_HANDLE_VALUE; ++attempt) {
        const auto salt = createUuid();
        wchar_t suffix[16];
        std::swprintf(suffix, 16, L".%02x%02x%02x%02x.tmp", salt[12], salt[13], salt[14], salt[15]);
        const std::wstring temp = path.substr(0, dirLength) + L"." + path.substr(dirLength, 200) + suffix;
        file = createMarked(temp, attributes);
        if (file == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS) break;
    }
    return file;
}

bool diskFull(DWORD error) { return error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL; }

// A new header, created directly as a plain write creates it.
WriteResult createDirectly(const std::wstring& path, const std::string& data) {
    const HANDLE direct = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    return direct == INVALID_HANDLE_VALUE ? WriteResult::openFailed : overwrite(direct, data);
}

// A new header: written beside it and moved into place. Where the folder
// takes a file but not one that may be removed or renamed again, it is
// written directly. A header that could not be created gives "Can't open";
// only a full disk or a failed write "Can't write".
WriteResult createHeader(const std::wstring& path, const std::string& data) {
    const std::size_t dirLength = directoryLength(path);
    if (dirLength == path.size()) {  // ends in a separator
        SetLastError(ERROR_INVALID_NAME);
        return WriteResult::openFailed;
    }
    const HANDLE file = createTemporary(path, dirLength, FILE_ATTRIBUTE_ARCHIVE);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (error == ERROR_ACCESS_DENIED) return createDirectly(path, data);
        return diskFull(error) ? WriteResult::writeFailed : WriteResult::openFailed;
    }
    if (!writeAll(file, data.data(), data.size())) {
        discard(file);
        return WriteResult::writeFailed;
    }
    if (moveOver(file, path)) return CloseHandle(file) ? WriteResult::ok : WriteResult::writeFailed;
    discard(file);
    return createDirectly(path, data);
}

// An existing header, which a plain write was shown to open: a new file takes
// its place by one rename, given first what the old one carried (creation
// time, ACL, the hidden and system attributes). Where that cannot be (another
// process holds the header without sharing its deletion for longer than the
// rename is retried; the folder grants writing files but not removing them,
// or takes no new file), the header is rewritten in place, as a plain write
// would.
WriteResult replaceHeader(const std::wstring& target, const std::string& data) {
    const DWORD attributes = GetFileAttributesW(target.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) {
        // Refused as Windows refuses a plain write there (Wine, as root, would open it).
        if (attributes != INVALID_FILE_ATTRIBUTES) SetLastError(ERROR_ACCESS_DENIED);
        return WriteResult::openFailed;
    }
    const std::size_t dirLength = directoryLength(target);
    KeptFromOld kept;
    if (dirLength == target.size() || !kept.read(target)) return rewriteInPlace(target, data);
    // The archive bit, which any write sets.
    const DWORD carried = FILE_ATTRIBUTE_ARCHIVE | (attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                                                  FILE_ATTRIBUTE_NOT_CONTENT_INDEXED));
    const HANDLE file = createTemporary(target, dirLength, carried);
    if (file == INVALID_HANDLE_VALUE)
        return diskFull(GetLastError()) ? WriteResult::writeFailed : rewriteInPlace(target, data);
    if (!writeAll(file, data.data(), data.size())) {
        discard(file);
        return WriteResult::writeFailed;
    }
    if (kept.giveTo(file) && moveOver(file, target)) return CloseHandle(file) ? WriteResult::ok : WriteResult::writeFailed;
    discard(file);
    return rewriteInPlace(target, data);
}

}  // namespace

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
