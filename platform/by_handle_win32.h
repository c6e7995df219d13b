// What the program asks of a file through its handle where newer Windows
// offers a better way than the older call by name: the choice between them,
// and what the newer calls take, apart so that tests can drive and read them.
#ifndef AUTODUMP_PLATFORM_BY_HANDLE_WIN32_H_
#define AUTODUMP_PLATFORM_BY_HANDLE_WIN32_H_

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

// The classes of SetFileInformationByHandle that older headers do not name.
constexpr FILE_INFO_BY_HANDLE_CLASS kFileDispositionInfoEx =
    static_cast<FILE_INFO_BY_HANDLE_CLASS>(21);
constexpr FILE_INFO_BY_HANDLE_CLASS kFileRenameInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(22);

// FILE_RENAME_INFO's flags (FileRenameInfoEx) and FILE_DISPOSITION_INFO_EX's.
constexpr DWORD kRenameReplaceIfExists = 0x1;
constexpr DWORD kRenamePosixSemantics = 0x2;
constexpr DWORD kDispositionDelete = 0x1;
constexpr DWORD kDispositionPosixSemantics = 0x2;

// FILE_RENAME_INFO for FileRenameInfoEx, with the flags where older headers
// have a BOOLEAN: a rename to `target` (a full path), and the buffer's size is
// what the call is given.
struct file_rename_info {
  DWORD flags;
  HANDLE root_directory;
  DWORD name_bytes;
  WCHAR name[1];
};
std::vector<BYTE> rename_info_for(const std::wstring& target, DWORD flags);

// Whether a failed call by handle says that the system or the file system
// does not offer it (older Windows, FAT, a network share, wine), so that the
// older way is worth trying.
bool not_offered(DWORD code);

// Tries `newer`; where it fails as not offered, `older`. Each returns true on
// success, or false with the system's code; `code` gets the last one's.
bool newer_or_older(const std::function<bool(DWORD*)>& newer,
                    const std::function<bool(DWORD*)>& older, DWORD* code);

#endif  // AUTODUMP_PLATFORM_BY_HANDLE_WIN32_H_
