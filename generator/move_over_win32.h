// How a new header takes an old one's place on Windows: by one rename that
// replaces the old file, so that at every moment, a killed process's too, the
// name holds a whole header, the old or the new. The rename does not carry
// what the old file had, as ReplaceFileW would (which renames the old file
// away first and so leaves a moment without one): that much is copied.
#pragma once

#include <windows.h>

#include <string>

namespace ventrim::platform {

// What the new header takes over from the old one: its creation time and its
// access control list, the ACL's inheritance as it was.
class KeptFromOld {
public:
    KeptFromOld() = default;
    KeptFromOld(const KeptFromOld&) = delete;
    KeptFromOld& operator=(const KeptFromOld&) = delete;
    ~KeptFromOld() { LocalFree(descriptor_); }

    // Reads them from the file at path, opened with no access a reader's
    // open conflicts with, sharing everything; false where that fails,
    // GetLastError() telling why.
    bool read(const std::wstring& path);
    // Gives them to the new file, open for writing with WRITE_DAC; false
    // where it cannot (under Wine, an ACL other than the new file's own).
    bool giveTo(HANDLE file) const;

private:
    FILETIME created_{};
    PSECURITY_DESCRIPTOR descriptor_ = nullptr;
    PACL dacl_ = nullptr;
    bool protected_ = false;
};

// Creates a new file at path (CREATE_NEW, with attributes) for writing, with
// the right to delete it and to set its ACL, sharing everything a reader may
// ask, marked at once to be removed when its handle closes (FILE_FLAG_DELETE_ON_CLOSE
// could not be lifted again before Windows 10 1709, nor under Wine). The
// system closes a killed process's handles: a temporary file so marked is not
// left behind.
HANDLE createMarked(const std::wstring& path, DWORD attributes);

// Marks file (open with DELETE access) to be removed when its handle closes,
// or lifts the mark.
bool removeOnClose(HANDLE file, bool remove);

// Renames file (open with DELETE access, marked for removal or not) over
// target in one step, lifting the mark just for it (and marking it again
// where the rename fails). Where the system can, with POSIX semantics: it also
// replaces a header that another process holds open sharing its deletion.
// Refused because another process has the header open, it is tried again for
// half a second. Through the handle, so that the ACL the file was given since
// does not matter.
bool moveOver(HANDLE file, const std::wstring& target);

// Removes the file (open with DELETE access) and closes it, keeping
// GetLastError(). (A folder that takes new files but refuses to remove them,
// as Linux's append-only attribute under Wine, keeps it.)
void discard(HANDLE file);

}  // namespace ventrim::platform
