// How new contents reach a header on Windows, once replace_file_win32.cpp has
// found the file a path reaches: write_file_win32.cpp (a temporary file takes
// its name) and rewrite_win32.cpp (in place, as a plain write would). The
// data passed already has the CR LF line ends of text mode.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>

#include "platform.h"

namespace ventrim::platform {

// Opens an existing file for writing exactly where a plain write would, after
// waiting a moment for another process's hold on it; INVALID_HANDLE_VALUE
// where it cannot, GetLastError() telling why.
HANDLE openAsPlainWrite(const std::wstring& path);

// Writes all left bytes from p where file stands; false where a write fails.
bool writeAll(HANDLE file, const char* p, std::size_t left);

// Writes data through file (a device, a pipe) and closes it.
WriteResult writeAndClose(HANDLE file, const std::string& data);

// Rewrites the open regular file with data and closes it; a failure leaves
// its old contents.
WriteResult overwrite(HANDLE file, const std::string& data);

// Opens the header at path as a plain write does and rewrites it in place.
WriteResult rewriteInPlace(const std::wstring& path, const std::string& data);

// A header at path, where none is yet.
WriteResult createHeader(const std::wstring& path, const std::string& data);

// The existing header at target (the file the path reached), which a plain
// write was shown to open.
WriteResult replaceHeader(const std::wstring& target, const std::string& data);

}  // namespace ventrim::platform
