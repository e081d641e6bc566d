// How the header replaces a file on Windows: a temporary file beside it,
// moved over the old one.
#include <windows.h>

#include <cwchar>

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

// Where a symbolic link leads, as on POSIX: the final path of the file it
// names, asked of that file opened through the link, so it is the file a
// plain open reaches. A dangling link, or any failure, leaves the path as is.
std::wstring followLink(const std::wstring& path, DWORD attributes) {
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return path;
    const HANDLE file = CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return path;
    std::wstring target(32768, L'\0');
    const DWORD len = GetFinalPathNameByHandleW(file, &target[0], static_cast<DWORD>(target.size()),
                                                FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    CloseHandle(file);
    if (len == 0 || len >= target.size()) return path;
    target.resize(len);
    return target;
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

// A device (NUL, CON, a pipe) is written as a stream, as a plain open would.
WriteResult writeToDevice(const std::wstring& path, const std::string& data) {
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return WriteResult::openFailed;
    return writeAndClose(file, data);
}

bool writeAt(HANDLE file, std::size_t offset, const char* data, std::size_t size) {
    LARGE_INTEGER at{};
    at.QuadPart = static_cast<LONGLONG>(offset);
    return SetFilePointerEx(file, at, nullptr, FILE_BEGIN) && writeAll(file, data, size);
}

bool endAt(HANDLE file, std::size_t size) {
    LARGE_INTEGER at{};
    at.QuadPart = static_cast<LONGLONG>(size);
    return SetFilePointerEx(file, at, nullptr, FILE_BEGIN) && SetEndOfFile(file);
}

// A header that no new file can replace (its folder takes no new entry) is
// rewritten so that its old contents survive a failure: the part beyond the
// old end first, cut off again if that fails; then the existing bytes, which
// need no new space; then the end.
WriteResult overwrite(const std::wstring& path, const std::string& data) {
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return WriteResult::openFailed;
    LARGE_INTEGER oldSize{};
    bool ok = GetFileSizeEx(file, &oldSize) != 0;
    if (ok) {
        const auto old = static_cast<std::size_t>(oldSize.QuadPart);
        const std::size_t kept = data.size() < old ? data.size() : old;
        ok = writeAt(file, kept, data.data() + kept, data.size() - kept);
        if (!ok) endAt(file, old);
        ok = ok && writeAt(file, 0, data.data(), kept) && endAt(file, data.size());
    }
    const bool closed = CloseHandle(file) != 0;
    return ok && closed ? WriteResult::ok : WriteResult::writeFailed;
}

bool isDevice(const std::wstring& path) {
    const HANDLE probe = CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (probe == INVALID_HANDLE_VALUE) return false;
    const bool device = GetFileType(probe) != FILE_TYPE_DISK;
    CloseHandle(probe);
    return device;
}

// Another process (a compiler, a virus scanner, an indexer) may hold the header
// open for a moment; wait for it rather than fail the build at once.
bool moveIntoPlace(const std::wstring& from, const std::wstring& to) {
    for (int attempt = 0;; ++attempt) {
        if (MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
        const DWORD error = GetLastError();
        const bool busy = error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED ||
                          error == ERROR_LOCK_VIOLATION;
        if (!busy || attempt == 100) return false;  // about two seconds in all
        Sleep(20);
    }
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

WriteResult replaceFile(const FilePath& path, const std::string& contents) {
    if (path.empty()) return WriteResult::openFailed;
    const std::string data = withCrLf(contents);
    if (isDevice(path)) return writeToDevice(path, data);

    const std::wstring named = longPathForm(path);
    const std::wstring target = followLink(named, GetFileAttributesW(named.c_str()));
    const DWORD attributes = GetFileAttributesW(target.c_str());
    const bool exists = attributes != INVALID_FILE_ATTRIBUTES;
    if (exists && (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY))) return WriteResult::openFailed;
    if (!exists && GetLastError() != ERROR_FILE_NOT_FOUND) return WriteResult::openFailed;
    const std::size_t dirLength = directoryLength(target);
    if (dirLength == target.size()) return WriteResult::openFailed;  // ends in a separator
    // What a plain write keeps: hidden and system, and the archive bit that
    // any write sets.
    const DWORD kept = FILE_ATTRIBUTE_ARCHIVE |
                       (exists ? attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM) : 0);

    // The temporary name: the header's own, dotted and suffixed, in its folder.
    std::wstring temp;
    HANDLE file = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < 16 && file == INVALID_HANDLE_VALUE; ++attempt) {
        const auto salt = createUuid();
        wchar_t suffix[16];
        std::swprintf(suffix, 16, L".%02x%02x%02x%02x.tmp", salt[12], salt[13], salt[14], salt[15]);
        temp = target.substr(0, dirLength) + L"." + target.substr(dirLength, 200) + suffix;
        file = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, kept, nullptr);
        if (file == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS) break;
    }
    if (file == INVALID_HANDLE_VALUE) {
        // A writable header in a folder that takes no new entry is rewritten in
        // place; any other failure leaves the old header as it was.
        if (GetLastError() != ERROR_ACCESS_DENIED) return WriteResult::writeFailed;
        return exists ? overwrite(target, data) : WriteResult::openFailed;
    }

    if (writeAndClose(file, data) == WriteResult::ok && moveIntoPlace(temp, target)) return WriteResult::ok;
    DeleteFileW(temp.c_str());
    return WriteResult::writeFailed;
}

}  // namespace ventrim::platform
