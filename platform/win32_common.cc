#include "platform/win32_common.h"

std::string system_message(DWORD code) {
  char* buffer = nullptr;
  DWORD length = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<char*>(&buffer), 0, nullptr);
  std::string message = length != 0 ? std::string(buffer, length) : "error " + std::to_string(code);
  LocalFree(buffer);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r'))
    message.pop_back();
  return message;
}

std::string describe_error(const std::string& path, DWORD code) {
  return path + ": " + system_message(code);
}

bool is_lead_byte(unsigned char byte) { return IsDBCSLeadByte(byte); }
