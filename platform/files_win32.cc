// Handles, and what the program looks up in the file system.
#include <windows.h>
// After windows.h, which it needs.
#include <winioctl.h>

#include <algorithm>
#include <cwchar>
#include <cwctype>
#include <vector>

#include "platform/platform.h"
#include "platform/win32_common.h"

namespace {

bool is_separator(unsigned char byte) { return byte == '/' || byte == '\\'; }

// Whether `byte` starts a two-byte character in the program's encoding: the
// byte after it may look like a backslash but is not one.
bool is_lead_byte(unsigned char byte) { return IsDBCSLeadByteEx(program_code_page(), byte); }

// A chain of symbolic links longer than the system follows is a circle.
constexpr int kMostLinks = 63;

// The path a symbolic link at `path` names, as the system follows it; ""
// where `path` is no symbolic link. `refused` where it is a link whose owner
// is another account than this program's, SYSTEM or the Administrators: it is
// not followed.
std::wstring link_names(const std::wstring& path, bool* refused) {
  scoped_handle link = owned(
      CreateFileW(long_form(path).c_str(), FILE_READ_ATTRIBUTES | READ_CONTROL,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                  FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  FILE_ATTRIBUTE_TAG_INFO kind;
  if (!link.valid() ||
      !GetFileInformationByHandleEx(raw(link), FileAttributeTagInfo, &kind, sizeof kind) ||
      !(kind.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
      kind.ReparseTag != IO_REPARSE_TAG_SYMLINK)
    return L"";
  if (!owned_by_this_account(raw(link), true)) {
    *refused = true;
    return L"";
  }
  std::vector<BYTE> buffer(MAXIMUM_REPARSE_DATA_BUFFER_SIZE);
  DWORD size = 0;
  if (!DeviceIoControl(raw(link), FSCTL_GET_REPARSE_POINT, nullptr, 0, buffer.data(),
                       static_cast<DWORD>(buffer.size()), &size, nullptr))
    return L"";
  return symbolic_link_target(path, buffer.data(), size);
}

// The names of `path` that name folders and files: those after its root.
std::vector<std::wstring> path_names(const std::wstring& path) {
  const std::wstring rest = path.substr(root_length(path));
  std::vector<std::wstring> names;
  for (std::wstring::size_type start = 0; start <= rest.size();) {
    std::wstring::size_type end = rest.find_first_of(L"\\/", start);
    if (end == std::wstring::npos) end = rest.size();
    names.push_back(rest.substr(start, end - start));
    start = end + 1;
  }
  return names;
}

// Whether `name` (one name of a path) names a device, or loses its end.
bool reserved(const std::wstring& name) {
  if (name.back() == L'.' || name.back() == L' ') return true;
  std::wstring base = name.substr(0, name.find_first_of(L".:"));
  while (!base.empty() && base.back() == L' ') base.pop_back();
  for (wchar_t& c : base) c = static_cast<wchar_t>(towupper(c));
  for (const wchar_t* device : {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"})
    if (base == device) return true;
  // COM1, LPT¹: the digits, and the superscripts one to three.
  return base.size() == 4 && (base.rfind(L"COM", 0) == 0 || base.rfind(L"LPT", 0) == 0) &&
         std::wstring(L"0123456789\u00b9\u00b2\u00b3").find(base[3]) != std::wstring::npos;
}

}  // namespace

bool scoped_handle::valid() const {
  return value_ != 0 && reinterpret_cast<HANDLE>(value_) != INVALID_HANDLE_VALUE;
}

void scoped_handle::reset(std::intptr_t value) {
  if (valid()) CloseHandle(reinterpret_cast<HANDLE>(value_));
  value_ = value;
}

void open_standard_streams() {
  for (DWORD which : {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE}) {
    HANDLE standard = GetStdHandle(which);
    if (standard != nullptr && standard != INVALID_HANDLE_VALUE) continue;
    SECURITY_ATTRIBUTES inherited = {sizeof inherited, nullptr, TRUE};
    SetStdHandle(
        which, CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           &inherited, OPEN_EXISTING, 0, nullptr));
  }
}

bool directory_accepts_files(const std::string& directory, os_error* error) {
  std::string name = directory.empty() ? "." : directory;
  std::wstring wide;
  if (!to_wide_path(name, &wide)) return failed(error, directory, ERROR_INVALID_NAME);
  DWORD attributes = GetFileAttributesW(wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return failed(error, directory, GetLastError());
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return failed(error, directory, ERROR_DIRECTORY);
  // Only trying tells whether this account may create files there.
  if (directory_part(name).size() != name.size()) name += '\\';
  name += "autodump-" + std::to_string(GetCurrentProcessId()) + ".probe";
  scoped_handle probe =
      owned(CreateFileW(to_wide_path(name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                        FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
  return probe.valid() || failed(error, directory, GetLastError());
}

bool modified_ago(const std::string& path, int64_t* age_ms) {
  std::string target;
  std::wstring wide;
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!resolve_links(path, &target, nullptr) || !to_wide_path(target, &wide) ||
      !GetFileAttributesExW(wide.c_str(), GetFileExInfoStandard, &data) ||
      (data.dwFileAttributes &
       (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE)))
    return false;
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  auto ticks = [](const FILETIME& time) {  // of 100 ns
    return static_cast<int64_t>(ULARGE_INTEGER{{time.dwLowDateTime, time.dwHighDateTime}}.QuadPart);
  };
  *age_ms = (ticks(now) - ticks(data.ftLastWriteTime)) / 10'000;
  return true;
}

bool is_directory(const std::string& path) {
  std::wstring wide;
  if (!to_wide_path(path, &wide)) return false;
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

bool resolve_links(const std::string& path, std::string* target, os_error* error) {
  *target = path;
  std::wstring current;
  if (!to_wide(path, &current)) return true;
  for (int links = 0; links < kMostLinks; ++links) {
    bool refused = false;
    std::wstring next = link_names(current, &refused);
    if (refused) return failed(error, from_wide(current), ERROR_ACCESS_DENIED);
    if (next.empty()) {
      std::string named = from_wide(current);
      // A name the program's encoding cannot hold cannot be written to.
      if (to_wide(named) != current) return failed(error, path, ERROR_NO_UNICODE_TRANSLATION);
      *target = named;
      return true;
    }
    current = next;
  }
  return true;
}

bool open_device(const std::string&, scoped_handle*, os_error*) { return true; }

bool name_is_reserved(const std::string& path, std::string* name) {
  std::wstring wide = to_wide(path);
  // "\\?\" and "\\.\" paths name what they say, devices included.
  if (wide.rfind(L"\\\\?\\", 0) == 0 || wide.rfind(L"\\\\.\\", 0) == 0) return false;
  for (const std::wstring& each : path_names(wide)) {
    if (each.empty() || each == L"." || each == L".." || !reserved(each)) continue;
    if (name) *name = from_wide(each);
    return true;
  }
  return false;
}

bool name_has_forbidden_characters(const std::string& path, std::string* name) {
  for (const std::wstring& each : path_names(to_wide(path))) {
    auto forbidden = [](wchar_t c) { return c < 32 || std::wcschr(L"<>:\"|?*", c) != nullptr; };
    if (std::none_of(each.begin(), each.end(), forbidden)) continue;
    if (name) *name = from_wide(each);
    return true;
  }
  return false;
}

bool text_is_usable(const std::string& text, os_error* error) {
  std::wstring wide;
  if (to_wide(text, &wide)) return true;
  if (text.find('\0') != std::string::npos) return failed(error, "", ERROR_INVALID_NAME);
  return failed(error, "", ERROR_NO_UNICODE_TRANSLATION, error_kind::unrepresentable);
}
