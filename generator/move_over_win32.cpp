// The rename that replaces a header on Windows, and what it carries over.
#include "move_over_win32.h"

#include <aclapi.h>

#include <cstddef>
#include <cstring>
#include <vector>

namespace ventrim::platform {

bool KeptFromOld::read(const std::wstring& path) {
    const HANDLE file = CreateFileW(path.c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD error = GetFileTime(file, &created_, nullptr, nullptr) ? ERROR_SUCCESS : GetLastError();
    if (error == ERROR_SUCCESS) {
        error = GetSecurityInfo(file, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl_, nullptr,
                                &descriptor_);
    }
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    if (error == ERROR_SUCCESS && !GetSecurityDescriptorControl(descriptor_, &control, &revision))
        error = GetLastError();
    protected_ = (control & SE_DACL_PROTECTED) != 0;
    CloseHandle(file);
    SetLastError(error);
    return error == ERROR_SUCCESS;
}

namespace {

// Whether the file's DACL is already dacl, its inheritance as protectedDacl
// says: as in a folder whose inherited ACEs made both.
bool hasDacl(HANDLE file, const ACL* dacl, bool protectedDacl) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    PACL own = nullptr;
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    const bool same =
        GetSecurityInfo(file, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &own, nullptr,
                        &descriptor) == ERROR_SUCCESS &&
        GetSecurityDescriptorControl(descriptor, &control, &revision) &&
        ((control & SE_DACL_PROTECTED) != 0) == protectedDacl && (own == nullptr) == (dacl == nullptr) &&
        (own == nullptr || (own->AclSize == dacl->AclSize && std::memcmp(own, dacl, own->AclSize) == 0));
    LocalFree(descriptor);
    return same;
}

// Wine shows a Unix file's mode as a DACL, but turns a DACL it is given into
// a mode of its own reading (600 into 775).
bool underWine() {
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

}  // namespace

bool KeptFromOld::giveTo(HANDLE file) const {
    if (!SetFileTime(file, &created_, nullptr, nullptr)) return false;
    // Set only where it differs: setting it makes every inherited ACE the
    // file's own copy.
    if (hasDacl(file, dacl_, protected_)) return true;
    if (underWine()) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return false;
    }
    // Without a DACL the file is open to all; the new one is made so too.
    const SECURITY_INFORMATION what = DACL_SECURITY_INFORMATION |
        (protected_ ? PROTECTED_DACL_SECURITY_INFORMATION : UNPROTECTED_DACL_SECURITY_INFORMATION);
    const DWORD error = SetSecurityInfo(file, SE_FILE_OBJECT, what, nullptr, nullptr, dacl_, nullptr);
    SetLastError(error);
    return error == ERROR_SUCCESS;
}

namespace {

// FileRenameInfoEx and its flags came with Windows 10 1607 and 1709.
constexpr auto kFileRenameInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(22);
constexpr DWORD kReplaceIfExists = 0x1;
constexpr DWORD kPosixSemantics = 0x2;

// FILE_RENAME_INFO whose first field is FileRenameInfoEx's flags, or
// FileRenameInfo's ReplaceIfExists (a BOOLEAN in the same place); the name
// ends in a zero, which the system reads up to.
bool renameTo(HANDLE file, const std::wstring& target, FILE_INFO_BY_HANDLE_CLASS kind, DWORD flags) {
    const std::size_t nameBytes = (target.size() + 1) * sizeof(wchar_t);
    std::vector<unsigned char> info(offsetof(FILE_RENAME_INFO, FileName) + nameBytes, 0);
    const auto length = static_cast<DWORD>(nameBytes - sizeof(wchar_t));
    std::memcpy(&info[0], &flags, sizeof flags);
    std::memcpy(&info[offsetof(FILE_RENAME_INFO, FileNameLength)], &length, sizeof length);
    std::memcpy(&info[offsetof(FILE_RENAME_INFO, FileName)], target.c_str(), nameBytes);
    return SetFileInformationByHandle(file, kind, info.data(), static_cast<DWORD>(info.size()));
}

}  // namespace

HANDLE createMarked(const std::wstring& path, DWORD attributes) {
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE | DELETE | WRITE_DAC,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                                    attributes, nullptr);
    if (file != INVALID_HANDLE_VALUE) removeOnClose(file, true);
    return file;
}

bool removeOnClose(HANDLE file, bool remove) {
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = remove ? TRUE : FALSE;
    return SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition) != 0;
}

namespace {

// One rename of file over full; the mark for removal is lifted just for it
// (a file that kept it would go when its handle closes, under its new name).
bool renameOnce(HANDLE file, const std::wstring& full) {
    if (!removeOnClose(file, false)) return false;
    if (renameTo(file, full, kFileRenameInfoEx, kReplaceIfExists | kPosixSemantics)) return true;
    // Windows before 10 1709 and Wine refuse the class or the flags; some
    // file systems refuse POSIX semantics. Then the plain rename, as
    // MoveFileExW with MOVEFILE_REPLACE_EXISTING makes it.
    DWORD error = GetLastError();
    if ((error == ERROR_INVALID_PARAMETER || error == ERROR_NOT_SUPPORTED || error == ERROR_INVALID_FUNCTION ||
         error == ERROR_CALL_NOT_IMPLEMENTED) &&
        renameTo(file, full, FileRenameInfo, TRUE))
        return true;
    error = GetLastError();
    removeOnClose(file, true);
    SetLastError(error);
    return false;
}

}  // namespace

bool moveOver(HANDLE file, const std::wstring& target) {
    // A full path: a relative one would be read from the folder the file is in.
    std::wstring full(32768, L'\0');
    const DWORD length = GetFullPathNameW(target.c_str(), static_cast<DWORD>(full.size()), &full[0], nullptr);
    if (length == 0 || length >= full.size()) return false;
    full.resize(length);
    // A compile holds an include for milliseconds: a rename refused because
    // another process has the header open is tried again, for half a second.
    for (int attempt = 0;; ++attempt) {
        if (renameOnce(file, full)) return true;
        const DWORD error = GetLastError();
        if ((error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION) || attempt == 25) return false;
        Sleep(20);
    }
}

void discard(HANDLE file) {
    const DWORD error = GetLastError();
    removeOnClose(file, true);
    CloseHandle(file);
    SetLastError(error);
}

}  // namespace ventrim::platform
