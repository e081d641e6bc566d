// How an open file is written on Windows: a device or pipe gets the stream
// as it comes; a header is rewritten in place, as a plain write would, in an
// order that leaves its old contents whole where a write fails.
#include <windows.h>

#include <cstdint>

#include "write_file_win32.h"

namespace ventrim::platform {

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

namespace {

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

}  // namespace

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

WriteResult rewriteInPlace(const std::wstring& path, const std::string& data) {
    const HANDLE file = openAsPlainWrite(path);
    return file == INVALID_HANDLE_VALUE ? WriteResult::writeFailed : overwrite(file, data);
}

}  // namespace ventrim::platform
