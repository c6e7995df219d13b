// Handles, and what the program looks up in the file system.
#include <windows.h>

#include "platform/platform.h"
#include "platform/win32_common.h"

namespace {

bool is_separator(unsigned char byte) { return byte == '/' || byte == '\\'; }

// Whether `byte` starts a two-byte character in the program's encoding: the
// byte after it may look like a backslash but is not one.
bool is_lead_byte(unsigned char byte) { return IsDBCSLeadByteEx(program_code_page(), byte); }

}  // namespace

bool scoped_handle::valid() const {
  return value_ != 0 && reinterpret_cast<HANDLE>(value_) != INVALID_HANDLE_VALUE;
}

void scoped_handle::reset(std::intptr_t value) {
  if (valid()) CloseHandle(reinterpret_cast<HANDLE>(value_));
  value_ = value;
}

bool directory_accepts_files(const std::string& directory) {
  std::string name = directory.empty() ? "." : directory;
  if (!is_directory(name)) return false;
  // Only trying tells whether this account may create files there.
  if (directory_part(name).size() != name.size()) name += '\\';
  name += "autodump-" + std::to_string(GetCurrentProcessId()) + ".probe";
  scoped_handle probe =
      owned(CreateFileW(to_wide(name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                        FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
  return probe.valid();
}

bool is_directory(const std::string& path) {
  std::wstring wide;
  if (!to_wide(path, &wide)) return false;
  DWORD attributes = GetFileAttributesW(wide.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::string directory_part(const std::string& path) {
  // The second byte of a two-byte character may be a backslash's.
  std::string::size_type end = 0;
  for (std::string::size_type i = 0; i < path.size(); ++i) {
    unsigned char byte = static_cast<unsigned char>(path[i]);
    if (is_separator(byte)) end = i + 1;
    if (is_lead_byte(byte)) ++i;
  }
  return path.substr(0, end);
}

std::string link_target(const std::string& path) {
  std::wstring wide;
  if (!to_wide(path, &wide)) return path;
  DWORD attributes = GetFileAttributesW(wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
    return path;
  // Opening follows the links to the file itself, which then names itself.
  scoped_handle file =
      owned(CreateFileW(wide.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!file.valid()) return path;
  wchar_t name[MAX_PATH];
  DWORD length = GetFinalPathNameByHandleW(raw(file), name, MAX_PATH, FILE_NAME_NORMALIZED);
  if (length == 0 || length >= MAX_PATH) return path;
  std::wstring target(name, length);
  // "\\?\C:\..." for a drive, "\\?\UNC\server\..." for a share.
  if (target.rfind(L"\\\\?\\UNC\\", 0) == 0)
    target = L"\\\\" + target.substr(8);
  else if (target.rfind(L"\\\\?\\", 0) == 0)
    target = target.substr(4);
  std::string named = from_wide(target);
  // A name the program's encoding cannot hold stays the link's own.
  return to_wide(named) == target ? named : path;
}

bool text_is_usable(const std::string& text, os_error* error) {
  std::wstring wide;
  if (to_wide(text, &wide)) return true;
  return failed(
      error, "",
      text.find('\0') != std::string::npos ? ERROR_INVALID_NAME : ERROR_NO_UNICODE_TRANSLATION);
}
