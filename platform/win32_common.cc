#include "platform/win32_common.h"

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

std::string from_wide(const wchar_t* wide, std::size_t length) {
  if (length == 0) return "";
  int size = static_cast<int>(length);
  int bytes = WideCharToMultiByte(program_code_page(), 0, wide, size, nullptr, 0, nullptr, nullptr);
  std::string text(static_cast<std::size_t>(bytes), '\0');
  WideCharToMultiByte(program_code_page(), 0, wide, size, text.data(), bytes, nullptr, nullptr);
  return text;
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
