#include "platform/win32_common.h"

#include <aclapi.h>

#include <cstddef>
#include <cwctype>

UINT program_code_page() {
  static const UINT code_page = GetConsoleOutputCP() == CP_UTF8 ? CP_UTF8 : 936;
  return code_page;
}

namespace {

// With MB_ERR_INVALID_CHARS fails on bytes that are no text in the program's
// encoding; without, puts U+FFFD in their place.
bool convert(const std::string& text, DWORD flags, std::wstring* wide) {
  wide->clear();
  if (text.empty()) return true;
  int size = static_cast<int>(text.size());
  int length = MultiByteToWideChar(program_code_page(), flags, text.data(), size, nullptr, 0);
  if (length == 0) return false;
  wide->resize(static_cast<std::size_t>(length));
  return MultiByteToWideChar(program_code_page(), flags, text.data(), size, wide->data(), length) ==
         length;
}

}  // namespace

bool to_wide(const std::string& text, std::wstring* wide) {
  return text.find('\0') == std::string::npos && convert(text, MB_ERR_INVALID_CHARS, wide);
}

std::wstring to_wide(const std::string& text) {
  std::wstring wide;
  convert(text, 0, &wide);
  return wide;
}

std::wstring full_path(const std::wstring& path) {
  DWORD size = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  std::wstring full(size, L'\0');
  DWORD length = size ? GetFullPathNameW(path.c_str(), size, full.data(), nullptr) : 0;
  if (length == 0 || length >= size) return path;
  full.resize(length);
  return full;
}

std::wstring long_form(const std::wstring& path) {
  constexpr std::size_t kLongest = MAX_PATH - 12;
  if (path.rfind(L"\\\\?\\", 0) == 0 || path.rfind(L"\\\\.\\", 0) == 0) return path;
  std::wstring full = full_path(path);
  if (full.size() < kLongest) return path;
  if (full.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + full.substr(2);
  return L"\\\\?\\" + full;
}

bool to_wide_path(const std::string& path, std::wstring* wide) {
  if (!to_wide(path, wide)) return false;
  *wide = long_form(*wide);
  return true;
}

std::wstring to_wide_path(const std::string& path) { return long_form(to_wide(path)); }

std::string typed_text(const wchar_t* wide, std::size_t length) {
  const UINT code_page = program_code_page();
  std::string text;
  for (std::size_t i = 0; i < length;) {
    // A character outside the basic plane comes as two UTF-16 units.
    int units =
        i + 1 < length && IS_HIGH_SURROGATE(wide[i]) && IS_LOW_SURROGATE(wide[i + 1]) ? 2 : 1;
    char bytes[8];
    BOOL lacked = FALSE;
    int size = code_page == CP_UTF8
                   ? WideCharToMultiByte(code_page, WC_ERR_INVALID_CHARS, wide + i, units, bytes,
                                         sizeof bytes, nullptr, nullptr)
                   : WideCharToMultiByte(code_page, WC_NO_BEST_FIT_CHARS, wide + i, units, bytes,
                                         sizeof bytes, nullptr, &lacked);
    if (size <= 0 || lacked)
      text += '\xFF';
    else
      text.append(bytes, static_cast<std::size_t>(size));
    i += static_cast<std::size_t>(units);
  }
  return text;
}

std::string from_wide(const wchar_t* wide, std::size_t length) {
  if (length == 0) return "";
  int size = static_cast<int>(length);
  int bytes = WideCharToMultiByte(program_code_page(), 0, wide, size, nullptr, 0, nullptr, nullptr);
  std::string text(static_cast<std::size_t>(bytes), '\0');
  WideCharToMultiByte(program_code_page(), 0, wide, size, text.data(), bytes, nullptr, nullptr);
  return text;
}

std::vector<BYTE> token_information(TOKEN_INFORMATION_CLASS what) {
  HANDLE opened = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &opened)) return {};
  scoped_handle token = owned(opened);
  DWORD size = 0;
  GetTokenInformation(opened, what, nullptr, 0, &size);
  std::vector<BYTE> information(size);
  if (size == 0 || !GetTokenInformation(opened, what, information.data(), size, &size)) return {};
  return information;
}

namespace {

bool is_well_known(PSID sid, WELL_KNOWN_SID_TYPE type) {
  BYTE known[SECURITY_MAX_SID_SIZE];
  DWORD size = sizeof known;
  return CreateWellKnownSid(type, nullptr, known, &size) && EqualSid(sid, known);
}

}  // namespace

bool owned_by_this_account(HANDLE file, bool or_administrator) {
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetSecurityInfo(file, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr,
                      nullptr, &descriptor) != ERROR_SUCCESS)
    return false;
  std::vector<BYTE> user = token_information(TokenUser);
  std::vector<BYTE> default_owner = token_information(TokenOwner);
  bool ours =
      (!user.empty() && EqualSid(owner, reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid)) ||
      (!default_owner.empty() &&
       EqualSid(owner, reinterpret_cast<TOKEN_OWNER*>(default_owner.data())->Owner)) ||
      (or_administrator && (is_well_known(owner, WinLocalSystemSid) ||
                            is_well_known(owner, WinBuiltinAdministratorsSid)));
  LocalFree(descriptor);
  return ours;
}

std::string system_message(DWORD code) {
  wchar_t* buffer = nullptr;
  DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::string message = length != 0 ? from_wide(buffer, length) : "error " + std::to_string(code);
  LocalFree(buffer);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) message.pop_back();
  return message;
}

bool failed(os_error* error, const std::string& path, DWORD code, error_kind kind) {
  if (error) *error = {kind, path, system_message(code)};
  return false;
}

std::size_t root_length(const std::wstring& path) {
  constexpr std::size_t kNone = std::wstring::npos;
  auto starts = [&path](const wchar_t* prefix) { return path.rfind(prefix, 0) == 0; };
  std::size_t share = kNone;  // where a share's server name begins
  std::size_t length = 0;
  if (starts(L"\\\\?\\UNC\\"))
    share = 8;
  else if (starts(L"\\\\?\\") || starts(L"\\\\.\\"))
    length = 4;
  else if (starts(L"\\\\") || starts(L"//"))
    share = 2;
  if (share != kNone) {
    // Up to the separator after the server's name and the share's.
    std::size_t server_end = path.find_first_of(L"\\/", share);
    std::size_t share_end =
        server_end == kNone ? kNone : path.find_first_of(L"\\/", server_end + 1);
    return share_end == kNone ? path.size() : share_end;
  }
  if (path.size() >= length + 2 && path[length + 1] == L':' && iswalpha(path[length])) length += 2;
  return length;
}

namespace {

// The header of a symbolic link's reparse data (REPARSE_DATA_BUFFER, which
// only the driver kit declares), followed by its names.
struct symbolic_link_data {
  DWORD tag;
  WORD data_length;
  WORD reserved;
  WORD substitute_offset;
  WORD substitute_length;
  WORD print_offset;
  WORD print_length;
  DWORD flags;
  WCHAR names[1];
};
constexpr DWORD kRelativeLink = 1;  // SYMLINK_FLAG_RELATIVE

}  // namespace

std::wstring symbolic_link_target(const std::wstring& link, const BYTE* data, DWORD size) {
  const auto* header = reinterpret_cast<const symbolic_link_data*>(data);
  if (size < offsetof(symbolic_link_data, names) || header->tag != IO_REPARSE_TAG_SYMLINK ||
      offsetof(symbolic_link_data, names) + header->substitute_offset + header->substitute_length >
          size)
    return L"";
  std::wstring name(header->names + header->substitute_offset / sizeof(WCHAR),
                    header->substitute_length / sizeof(WCHAR));
  if (!(header->flags & kRelativeLink)) {
    if (name.rfind(L"\\??\\", 0) == 0) name[1] = L'\\';
    return name;
  }
  if (!name.empty() && (name[0] == L'\\' || name[0] == L'/'))
    return link.substr(0, root_length(link)) + name;
  std::wstring::size_type slash = link.find_last_of(L"\\/");
  return (slash == std::wstring::npos ? L"" : link.substr(0, slash + 1)) + name;
}
