// A temporary file: claimed, put in place or discarded.
#include <windows.h>
// After windows.h, which they need.
#include <aclapi.h>
#include <sddl.h>

#include <algorithm>
#include <cwchar>
#include <string>
#include <utility>
#include <vector>

#include "platform/by_handle_win32.h"
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
      owned(CreateFileW(to_wide_path(path).c_str(), FILE_READ_ATTRIBUTES,
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
  std::vector<BYTE> user = token_information(TokenUser);
  wchar_t* sid = nullptr;
  if (user.empty() ||
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

// Creates `path` afresh (CREATE_NEW) with private_descriptor()'s rights;
// `code` gets the system's error.
scoped_handle create_private(const std::wstring& path, DWORD access, DWORD sharing, DWORD flags,
                             DWORD* code) {
  SECURITY_ATTRIBUTES private_file = {sizeof private_file, private_descriptor(), FALSE};
  scoped_handle created = owned(CreateFileW(
      path.c_str(), access, sharing, private_file.lpSecurityDescriptor ? &private_file : nullptr,
      CREATE_NEW, flags, nullptr));
  *code = GetLastError();
  LocalFree(private_file.lpSecurityDescriptor);
  return created;
}

// Opens `path` itself (not what a link there names) to look at it.
scoped_handle open_to_look_at(const std::wstring& path, DWORD access) {
  return owned(CreateFileW(
      path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

// Whether another program holds `path` open so that it cannot be replaced for
// now. One that does not share its deletion keeps this program from opening
// it for deletion; one that does still keeps a rename over it from working,
// though this program may delete it (access_denied: what that rename said).
bool held_by_another_program(const std::wstring& path, bool access_denied) {
  scoped_handle file = open_to_look_at(path, DELETE);
  if (!file.valid()) return GetLastError() == ERROR_SHARING_VIOLATION;
  // A folder is never replaced by a file, however long one waits.
  FILE_BASIC_INFO basic;
  return access_denied &&
         GetFileInformationByHandleEx(raw(file), FileBasicInfo, &basic, sizeof basic) &&
         !(basic.FileAttributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Renames the claimed file by its handle over `target`, as POSIX does: the
// target may be open (by programs that share its deletion), and only the very
// file claimed can be renamed. Windows 10 1709 and later, on NTFS.
bool rename_by_handle(HANDLE file, const std::wstring& target, DWORD* code) {
  std::vector<BYTE> info = rename_info_for(target, kRenameReplaceIfExists | kRenamePosixSemantics);
  if (SetFileInformationByHandle(file, kFileRenameInfoEx, info.data(),
                                 static_cast<DWORD>(info.size())))
    return true;
  *code = GetLastError();
  return false;
}

// Renames the claimed `file` over `target` by its name, unless that name no
// longer names the file claimed.
bool rename_by_name(temp_file* file, const std::wstring& target, DWORD* code) {
  if (!same_file(raw(file->handle), file->path)) {
    *code = ERROR_FILE_INVALID;
    return false;
  }
  if (MoveFileExW(to_wide_path(file->path).c_str(), target.c_str(),
                  MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    return true;
  *code = GetLastError();
  return false;
}

// Renames the claimed `file` over `target`: by its handle where the system
// offers it, by name otherwise. False with the system's code.
bool rename_over(temp_file* file, const std::wstring& target, DWORD* code) {
  return newer_or_older(
      [&](DWORD* failed) { return rename_by_handle(raw(file->handle), full_path(target), failed); },
      [&](DWORD* failed) { return rename_by_name(file, target, failed); }, code);
}

// A name that no other file of this run has: `prefix`, this process's id, a
// count, `suffix`.
std::wstring numbered_name(const std::wstring& prefix, const wchar_t* suffix) {
  static int count = 0;
  return prefix + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++count) + suffix;
}

// Removes the file open as `file` (with DELETE access) at `path` so that its
// name is free at once, even while another program (a scanner) still holds
// it: with POSIX semantics where the system offers them (Windows 10 1709 and
// later, on NTFS); elsewhere it is renamed to a name of its own beside, then
// removed once the last holder lets go ("If a file cannot be deleted, its name
// cannot be reused. To reuse a file name immediately, rename the existing
// file").
bool remove_now(HANDLE file, const std::wstring& path) {
  auto posix_delete = [&](DWORD* code) {
    DWORD flags = kDispositionDelete | kDispositionPosixSemantics;
    if (SetFileInformationByHandle(file, kFileDispositionInfoEx, &flags, sizeof flags)) return true;
    *code = GetLastError();
    return false;
  };
  auto rename_aside_and_delete = [&](DWORD* code) {
    std::vector<BYTE> info = rename_info_for(numbered_name(full_path(path) + L".", L".deleted"), 0);
    // FileRenameInfo: a BOOLEAN ReplaceIfExists of false, which the flags' 0 is.
    SetFileInformationByHandle(file, FileRenameInfo, info.data(), static_cast<DWORD>(info.size()));
    if (delete_on_close(file)) return true;
    *code = GetLastError();
    return false;
  };
  DWORD code = 0;
  return newer_or_older(posix_delete, rename_aside_and_delete, &code);
}

// Whether a name that an open refused with `code` is that of a file being
// deleted that another program still holds: every open of it is refused
// (ERROR_ACCESS_DENIED, as DeleteFile's documentation says), though it is
// still listed in its folder.
bool held_while_deleted(DWORD code, const std::wstring& path) {
  if (code != ERROR_ACCESS_DENIED) return false;
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(path.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return false;
  FindClose(search);
  return true;
}

}  // namespace

bool create_temp_file(const std::string& path, temp_file* file, os_error* error) {
  // Others may read it and look at its lock, never write it; sharing delete
  // lets it be renamed while this program still holds it locked.
  std::wstring wide;
  if (!to_wide_path(path, &wide)) return failed(error, path, ERROR_INVALID_NAME);
  DWORD code = 0;
  scoped_handle created =
      create_private(wide, GENERIC_READ | GENERIC_WRITE | DELETE | WRITE_DAC,
                     FILE_SHARE_READ | FILE_SHARE_DELETE, FILE_ATTRIBUTE_NORMAL, &code);
  if (!created.valid()) {
    if (held_while_deleted(code, wide)) return failed(error, path, code, error_kind::busy);
    return failed(error, path, code,
                  code == ERROR_FILE_EXISTS ? error_kind::exists : error_kind::other);
  }
  bool locked = lock_claim(raw(created));
  // Before the lock, another program took it for a leftover: it removed it, or
  // holds it now.
  if (locked && !delete_pending(raw(created))) {
    file->path = path;
    file->handle = std::move(created);
    return true;
  }
  return locked ? failed(error, path, ERROR_FILE_EXISTS, error_kind::exists)
                : failed(error, path, ERROR_LOCK_VIOLATION, error_kind::claimed);
}

bool remove_leftover(const std::string& path, os_error* error) {
  const std::wstring wide = to_wide_path(path);
  scoped_handle file = open_to_look_at(wide, GENERIC_READ | DELETE | READ_CONTROL);
  if (!file.valid()) {
    DWORD code = GetLastError();
    if (code == ERROR_FILE_NOT_FOUND) return true;
    bool held = code == ERROR_SHARING_VIOLATION || held_while_deleted(code, wide);
    return failed(error, path, code, held ? error_kind::busy : error_kind::other);
  }
  // Only what this program's account could have left: not another account's
  // file, nor a link, a directory or a device.
  FILE_ATTRIBUTE_TAG_INFO kind;
  if (!GetFileInformationByHandleEx(raw(file), FileAttributeTagInfo, &kind, sizeof kind) ||
      (kind.FileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) ||
      GetFileType(raw(file)) != FILE_TYPE_DISK)
    return failed(error, path, ERROR_FILE_EXISTS);
  if (!owned_by_this_account(raw(file), false)) return failed(error, path, ERROR_ACCESS_DENIED);
  if (!lock_claim(raw(file))) return failed(error, path, ERROR_LOCK_VIOLATION, error_kind::claimed);
  return remove_now(raw(file), wide) || failed(error, path, GetLastError());
}

int64_t claimed_size(const temp_file& file) {
  LARGE_INTEGER size;
  return GetFileSizeEx(raw(file.handle), &size) ? size.QuadPart : 0;
}

bool take_over_permissions(temp_file* file, const std::string& target, os_error* error) {
  // The old file's own entries, and the folder's where the old one took those.
  scoped_handle old = owned(CreateFileW(to_wide_path(target).c_str(), READ_CONTROL,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, 0, nullptr));
  // Nothing there yet: the new one stays private. Another account's file could
  // make the dump that account's, or everyone's: it stays private too.
  if (!old.valid()) return true;
  if (!owned_by_this_account(raw(old), true))
    return failed(error, target, ERROR_ACCESS_DENIED, error_kind::foreign);
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  DWORD code = GetSecurityInfo(raw(old), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                               nullptr, &dacl, nullptr, &descriptor);
  if (code != ERROR_SUCCESS) return failed(error, target, code);
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  GetSecurityDescriptorControl(descriptor, &control, &revision);
  SECURITY_INFORMATION what = DACL_SECURITY_INFORMATION |
                              (control & SE_DACL_PROTECTED ? PROTECTED_DACL_SECURITY_INFORMATION
                                                           : UNPROTECTED_DACL_SECURITY_INFORMATION);
  code = SetSecurityInfo(raw(file->handle), SE_FILE_OBJECT, what, nullptr, nullptr, dacl, nullptr);
  LocalFree(descriptor);
  return code == ERROR_SUCCESS || failed(error, file->path, code);
}

bool put_in_place(temp_file* file, const std::string& target, os_error* error) {
  HANDLE handle = raw(file->handle);
  const std::wstring wide_target = to_wide_path(target);
  if (!FlushFileBuffers(handle)) return failed(error, file->path, GetLastError());
  // Windows will not replace a read-only file: the attribute goes for the
  // replacement and comes back on the new file, as the old bits do on POSIX.
  DWORD old = GetFileAttributesW(wide_target.c_str());
  bool read_only = old != INVALID_FILE_ATTRIBUTES && (old & FILE_ATTRIBUTE_READONLY);
  if (read_only) SetFileAttributesW(wide_target.c_str(), old & ~FILE_ATTRIBUTE_READONLY);
  DWORD code = 0;
  if (!rename_over(file, wide_target, &code)) {
    if (read_only) SetFileAttributesW(wide_target.c_str(), old);
    bool denied = code == ERROR_ACCESS_DENIED;
    if (held_by_another_program(wide_target, denied))
      return failed(error, target, code, error_kind::busy);
    if (held_by_another_program(to_wide_path(file->path), false))
      return failed(error, file->path, code, error_kind::busy);
    return failed(error, code == ERROR_FILE_INVALID ? file->path : target, code);
  }
  if (read_only)
    SetFileAttributesW(wide_target.c_str(),
                       GetFileAttributesW(wide_target.c_str()) | FILE_ATTRIBUTE_READONLY);
  file->handle.reset();
  return true;
}

void discard_temp_file(temp_file* file) {
  // By its handle: the very file claimed, whatever has taken its name since.
  remove_now(raw(file->handle), to_wide_path(file->path));
  file->handle.reset();
}

namespace {

// The folder of this account's temporary files, with its separator.
std::wstring temporary_folder() {
  wchar_t folder[MAX_PATH + 1];
  DWORD length = GetTempPathW(MAX_PATH + 1, folder);
  return length > 0 && length <= MAX_PATH ? std::wstring(folder, length) : L".\\";
}

// Handed files are named "autodump-<process id>-<count>.cnf".
constexpr wchar_t kHandedPrefix[] = L"autodump-";

// A name in the temporary folder that no other file of this run has.
std::wstring numbered_temporary_path(const std::wstring& prefix, const wchar_t* suffix) {
  return numbered_name(temporary_folder() + prefix, suffix);
}

// Removes the handed files of runs of this program that no longer run: one
// that was killed could not remove its own.
void remove_handed_leftovers(const std::wstring& folder) {
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((folder + kHandedPrefix + L"*.cnf").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    DWORD id = std::wcstoul(found.cFileName + std::wcslen(kHandedPrefix), nullptr, 10);
    scoped_handle process = owned(OpenProcess(SYNCHRONIZE, FALSE, id));
    bool running = process.valid() && WaitForSingleObject(raw(process), 0) == WAIT_TIMEOUT;
    if (id != 0 && id != GetCurrentProcessId() && !running)
      DeleteFileW((folder + found.cFileName).c_str());
  } while (FindNextFileW(search, &found));
  FindClose(search);
}

}  // namespace

bool create_handed_file(const std::string& content, handed_file* file, os_error* error) {
  static bool swept = false;
  if (!std::exchange(swept, true)) remove_handed_leftovers(temporary_folder());
  const std::wstring path = numbered_temporary_path(kHandedPrefix, L".cnf");
  DWORD code = 0;
  scoped_handle created = create_private(
      path, GENERIC_WRITE, 0, FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED, &code);
  const std::string name = from_wide(path.data(), path.size());
  if (!created.valid()) return failed(error, name, code);
  DWORD written = 0;
  // Closed before the program starts: the client tools open it without
  // sharing its deletion.
  bool complete = WriteFile(raw(created), content.data(), static_cast<DWORD>(content.size()),
                            &written, nullptr) &&
                  written == content.size();
  code = GetLastError();
  created.reset();
  if (!complete) {
    DeleteFileW(path.c_str());
    return failed(error, name, code);
  }
  file->name = name;
  return true;
}

void remove_handed_file(handed_file* file) {
  if (!file->name.empty()) DeleteFileW(to_wide_path(file->name).c_str());
  file->name.clear();
}

bool create_scratch_file(scoped_handle* file, os_error* error) {
  const std::wstring path = numbered_temporary_path(L"autodump-scratch-", L".tmp");
  DWORD code = 0;
  // Gone when the last handle goes, even when this program is killed.
  *file = create_private(path, GENERIC_READ | GENERIC_WRITE,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, &code);
  return file->valid() || failed(error, from_wide(path.data(), path.size()), code);
}

std::string read_scratch_file(const scoped_handle& file, std::size_t most) {
  std::string text(most, '\0');
  OVERLAPPED from_start = {};
  DWORD length = 0;
  if (!ReadFile(raw(file), text.data(), static_cast<DWORD>(most), &length, &from_start)) length = 0;
  text.resize(length);
  return text;
}
