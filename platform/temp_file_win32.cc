// The temporary file of a dump: claimed, put in place or discarded.
#include <windows.h>

#include "platform/platform.h"
#include "platform/win32_common.h"

namespace {

HANDLE handle_of(const temp_file& file) { return reinterpret_cast<HANDLE>(file.handle); }

// A lock far beyond any dump's end, so that it keeps other programs from
// claiming the file without keeping the tool from writing it.
bool lock_claim(HANDLE file) {
  OVERLAPPED far_end = {};
  far_end.Offset = 0xFFFFFFFE;
  far_end.OffsetHigh = 0x7FFFFFFF;
  return LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                    &far_end);
}

bool delete_pending(HANDLE file) {
  FILE_STANDARD_INFO info;
  return GetFileInformationByHandleEx(file, FileStandardInfo, &info, sizeof info) &&
         info.DeletePending;
}

bool delete_on_close(HANDLE file) {
  FILE_DISPOSITION_INFO disposition = {TRUE};
  return SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition);
}

// Whether `path` still names the file open as `file`, and not something put
// at its name since (sharing delete lets others rename the claimed file).
bool same_file(HANDLE file, const std::string& path) {
  HANDLE named = CreateFileW(to_wide(path).c_str(), FILE_READ_ATTRIBUTES,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (named == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION opened, found;
  bool same = GetFileInformationByHandle(file, &opened) && GetFileInformationByHandle(named, &found) &&
              opened.dwVolumeSerialNumber == found.dwVolumeSerialNumber &&
              opened.nFileIndexHigh == found.nFileIndexHigh &&
              opened.nFileIndexLow == found.nFileIndexLow;
  CloseHandle(named);
  return same;
}

}  // namespace

claim_status create_temp_file(const std::string& path, temp_file* file, std::string* error) {
  // Others may read it and look at its lock, never write it; sharing delete
  // lets it be renamed while this program still holds it locked.
  std::wstring wide;
  if (!to_wide(path, &wide)) {
    *error = describe_error(path, ERROR_INVALID_NAME);
    return claim_status::failed;
  }
  HANDLE created = CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE,
                               FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
  if (created == INVALID_HANDLE_VALUE) {
    DWORD code = GetLastError();
    if (code == ERROR_FILE_EXISTS) return claim_status::in_the_way;
    *error = describe_error(path, code);
    return claim_status::failed;
  }
  bool locked = lock_claim(created);
  // Before the lock, another program took it for a leftover: it removed it, or
  // holds it now.
  if (locked && !delete_pending(created)) {
    *file = {path, reinterpret_cast<std::intptr_t>(created)};
    return claim_status::claimed;
  }
  CloseHandle(created);
  return locked ? claim_status::in_the_way : claim_status::busy;
}

leftover_status remove_leftover(const std::string& path, std::string* error) {
  HANDLE file = CreateFileW(to_wide(path).c_str(), GENERIC_READ | DELETE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    DWORD code = GetLastError();
    if (code == ERROR_FILE_NOT_FOUND) return leftover_status::removed;
    if (code == ERROR_SHARING_VIOLATION) return leftover_status::busy;
    *error = describe_error(path, code);
    return leftover_status::failed;
  }
  if (!lock_claim(file)) {
    CloseHandle(file);
    return leftover_status::busy;
  }
  bool removed = delete_on_close(file);
  DWORD code = GetLastError();
  CloseHandle(file);
  if (removed) return leftover_status::removed;
  *error = describe_error(path, code);
  return leftover_status::failed;
}

std::string put_in_place(temp_file* file, const std::string& dump_file) {
  HANDLE handle = handle_of(*file);
  if (!FlushFileBuffers(handle)) return describe_error(file->path, GetLastError());
  if (!same_file(handle, file->path)) return describe_error(file->path, ERROR_FILE_INVALID);
  if (!MoveFileExW(to_wide(file->path).c_str(), to_wide(dump_file).c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    return describe_error(dump_file, GetLastError());
  CloseHandle(handle);
  file->handle = -1;
  return "";
}

int64_t claimed_size(const temp_file& file) {
  LARGE_INTEGER size;
  return GetFileSizeEx(handle_of(file), &size) ? size.QuadPart : 0;
}

void discard_temp_file(temp_file* file) {
  HANDLE handle = handle_of(*file);
  delete_on_close(handle);
  CloseHandle(handle);
  file->handle = -1;
}
