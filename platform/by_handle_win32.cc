#include "platform/by_handle_win32.h"

#include <algorithm>

std::vector<BYTE> rename_info_for(const std::wstring& target, DWORD flags) {
  // The structure's own one character holds the terminating NUL.
  std::vector<BYTE> buffer(sizeof(file_rename_info) + target.size() * sizeof(WCHAR));
  auto* info = reinterpret_cast<file_rename_info*>(buffer.data());
  info->flags = flags;
  info->root_directory = nullptr;
  info->name_bytes = static_cast<DWORD>(target.size() * sizeof(WCHAR));
  std::copy(target.begin(), target.end(), info->name);
  info->name[target.size()] = L'\0';
  return buffer;
}

bool not_offered(DWORD code) {
  return code == ERROR_INVALID_PARAMETER || code == ERROR_NOT_SUPPORTED ||
         code == ERROR_INVALID_FUNCTION || code == ERROR_CALL_NOT_IMPLEMENTED;
}

bool newer_or_older(const std::function<bool(DWORD*)>& newer,
                    const std::function<bool(DWORD*)>& older, DWORD* code) {
  if (newer(code)) return true;
  return not_offered(*code) && older(code);
}
