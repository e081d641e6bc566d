// How a header gets its new contents on Windows, once replace_file_win32.cpp
// has found the file a path reaches: a temporary file beside it is written
// and takes its name by one rename (move_over_win32.cpp). Where that cannot
// be, a new header is created directly and an existing one rewritten in place
// (rewrite_win32.cpp).
#include <windows.h>

#include <cstddef>
#include <cwchar>

#include "move_over_win32.h"
#include "write_file_win32.h"

namespace ventrim::platform {

namespace {

std::size_t directoryLength(const std::wstring& path) {
    const auto sep = path.find_last_of(L"\\/:");
    return sep == std::wstring::npos ? 0 : sep + 1;
}

// Removes what a killed run left at temp: a file no process has open (a live
// run holds its temporary file open until it has the header's name).
bool sweep(const std::wstring& temp) {
    const HANDLE file = CreateFileW(temp.c_str(), DELETE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    const bool removed = removeOnClose(file, true);
    return CloseHandle(file) && removed;
}

// A new file beside path to hold the header, with the given attributes, the
// right to delete it (where the folder grants making files but not removing
// them, none is made, so none is left behind) and to set its ACL; marked to
// be removed when closed. It shares all a reader may ask: its handle is
// closed as soon as the file has the header's name, but a compile may open it
// before then. Its name is one a header, so that what a run killed while the
// mark is off leaves, the next one removes; where a live run has that name,
// a salted one.
HANDLE createTemporary(const std::wstring& path, std::size_t dirLength, DWORD attributes) {
    const std::wstring stem = path.substr(0, dirLength) + L"." + path.substr(dirLength, 200), own = stem + L".ventrim.tmp";
    HANDLE file = createMarked(own, attributes);
    if (file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_EXISTS) {
        if (sweep(own)) file = createMarked(own, attributes);
        if (file == INVALID_HANDLE_VALUE) SetLastError(ERROR_FILE_EXISTS);
    }
    for (int attempt = 0; attempt < 16 && file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_EXISTS; ++attempt) {
        const auto salt = createUuid();
        wchar_t suffix[16];
        std::swprintf(suffix, 16, L".%02x%02x%02x%02x.tmp", salt[12], salt[13], salt[14], salt[15]);
        file = createMarked(stem + suffix, attributes);
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

}  // namespace

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

}  // namespace ventrim::platform
