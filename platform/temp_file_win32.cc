// A temporary file: claimed, put in place or discarded.
#include <windows.h>
// After windows.h, which they need.
#include <aclapi.h>
#include <sddl.h>

#include <vector>

#include "platform/platform.h"
#include "platform/win32_common.h"

namespace {

// A lock far beyond any dump's end, so that it keeps other programs from
// claiming the file without keeping the tool from writing it.
bool lock_claim(HANDLE file) {
  OVERLAPPED far_end = {};
  far_end.Offset = 0xFFFFFFFE;
  far_end.OffsetHigh = 0x7FFFFFFF;
  return LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &far_end);
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
  scoped_handle named =
      owned(CreateFileW(to_wide(path).c_str(), FILE_READ_ATTRIBUTES,
                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                        OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  BY_HANDLE_FILE_INFORMATION opened, found;
  return named.valid() && GetFileInformationByHandle(file, &opened) &&
         GetFileInformationByHandle(raw(named), &found) &&
         opened.dwVolumeSerialNumber == found.dwVolumeSerialNumber &&
         opened.nFileIndexHigh == found.nFileIndexHigh &&
         opened.nFileIndexLow == found.nFileIndexLow;
}

// A security descriptor that lets this program's account, SYSTEM and the
// Administrators at the file, and nobody else, whatever the folder says.
// Freed with LocalFree; null where it cannot be made.
PSECURITY_DESCRIPTOR private_descriptor() {
  HANDLE opened = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &opened)) return nullptr;
  scoped_handle token = owned(opened);
  DWORD size = 0;
  GetTokenInformation(opened, TokenUser, nullptr, 0, &size);
  std::vector<BYTE> user(size);
  wchar_t* sid = nullptr;
  if (!GetTokenInformation(opened, TokenUser, user.data(), size, &size) ||
      !ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid, &sid))
    return nullptr;
  // P: protected, so that nothing is inherited from the folder; FA: full access.
  std::wstring sddl = L"D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;FA;;;" + std::wstring(sid) + L")";
  LocalFree(sid);
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1,
                                                            &descriptor, nullptr))
    return nullptr;
  return descriptor;
}

// Gives the new dump the old one's access rights: its own entries, and the
// folder's where the old one took those.
void take_over_permissions(HANDLE file, const std::wstring& dump_file) {
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetNamedSecurityInfoW(dump_file.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                            nullptr, &dacl, nullptr, &descriptor) != ERROR_SUCCESS)
    return;
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  GetSecurityDescriptorControl(descriptor, &control, &revision);
  SECURITY_INFORMATION what = DACL_SECURITY_INFORMATION |
                              (control & SE_DACL_PROTECTED ? PROTECTED_DACL_SECURITY_INFORMATION
                                                           : UNPROTECTED_DACL_SECURITY_INFORMATION);
  SetSecurityInfo(file, SE_FILE_OBJECT, what, nullptr, nullptr, dacl, nullptr);
  LocalFree(descriptor);
}

// A file that cannot be opened for deletion, with every sharing allowed to
// others, is held open by a program that does not share its deletion.
bool held_by_another_program(const std::wstring& path) {
  scoped_handle file = owned(
      CreateFileW(path.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  return !file.valid() && GetLastError() == ERROR_SHARING_VIOLATION;
}

}  // namespace

bool create_temp_file(const std::string& path, temp_file* file, os_error* error) {
  // Others may read it and look at its lock, never write it; sharing delete
  // lets it be renamed while this program still holds it locked.
  std::wstring wide;
  if (!to_wide(path, &wide)) return failed(error, path, ERROR_INVALID_NAME);
  SECURITY_ATTRIBUTES private_file = {sizeof private_file, private_descriptor(), FALSE};
  scoped_handle created =
      owned(CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE | WRITE_DAC,
                        FILE_SHARE_READ | FILE_SHARE_DELETE,
                        private_file.lpSecurityDescriptor ? &private_file : nullptr, CREATE_NEW,
                        FILE_ATTRIBUTE_NORMAL, nullptr));
  DWORD code = GetLastError();
  LocalFree(private_file.lpSecurityDescriptor);
  if (!created.valid())
    return failed(error, path, code,
                  code == ERROR_FILE_EXISTS ? error_kind::exists : error_kind::other);
  bool locked = lock_claim(raw(created));
  // Before the lock, another program took it for a leftover: it removed it, or
  // holds it now.
  if (locked && !delete_pending(raw(created))) {
    file->path = path;
    file->handle = std::move(created);
    return true;
  }
  return locked ? failed(error, path, ERROR_FILE_EXISTS, error_kind::exists)
                : failed(error, path, ERROR_LOCK_VIOLATION, error_kind::busy);
}

bool remove_leftover(const std::string& path, os_error* error) {
  scoped_handle file =
      owned(CreateFileW(to_wide(path).c_str(), GENERIC_READ | DELETE,
                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                        OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!file.valid()) {
    DWORD code = GetLastError();
    if (code == ERROR_FILE_NOT_FOUND) return true;
    return failed(error, path, code,
                  code == ERROR_SHARING_VIOLATION ? error_kind::busy : error_kind::other);
  }
  if (!lock_claim(raw(file))) return failed(error, path, ERROR_LOCK_VIOLATION, error_kind::busy);
  return delete_on_close(raw(file)) || failed(error, path, GetLastError());
}

int64_t claimed_size(const temp_file& file) {
  LARGE_INTEGER size;
  return GetFileSizeEx(raw(file.handle), &size) ? size.QuadPart : 0;
}

bool put_in_place(temp_file* file, const std::string& target, os_error* error) {
  HANDLE handle = raw(file->handle);
  const std::wstring wide_target = to_wide(target);
  take_over_permissions(handle, wide_target);
  if (!FlushFileBuffers(handle)) return failed(error, file->path, GetLastError());
  if (!same_file(handle, file->path)) return failed(error, file->path, ERROR_FILE_INVALID);
  // Windows will not replace a read-only file: the attribute goes for the
  // replacement and comes back on the new file, as the old bits do on POSIX.
  DWORD old = GetFileAttributesW(wide_target.c_str());
  bool read_only = old != INVALID_FILE_ATTRIBUTES && (old & FILE_ATTRIBUTE_READONLY);
  if (read_only) SetFileAttributesW(wide_target.c_str(), old & ~FILE_ATTRIBUTE_READONLY);
  if (!MoveFileExW(to_wide(file->path).c_str(), wide_target.c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    DWORD code = GetLastError();
    if (read_only) SetFileAttributesW(wide_target.c_str(), old);
    return failed(error, target, code,
                  held_by_another_program(wide_target) ? error_kind::busy : error_kind::other);
  }
  if (read_only)
    SetFileAttributesW(wide_target.c_str(),
                       GetFileAttributesW(wide_target.c_str()) | FILE_ATTRIBUTE_READONLY);
  file->handle.reset();
  return true;
}

void discard_temp_file(temp_file* file) {
  delete_on_close(raw(file->handle));
  file->handle.reset();
}
