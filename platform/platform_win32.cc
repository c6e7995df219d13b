// The console, the clock, and what the program looks up in the file system.
#include <windows.h>

#include <cstdlib>

#include "platform/platform.h"
#include "platform/win32_common.h"
#include "platform/windows_command_line.h"

namespace {

// The longest command line CreateProcess takes, its NUL included.
constexpr std::size_t kLongestCommandLine = 32767;

bool is_separator(unsigned char byte) { return byte == '/' || byte == '\\'; }

// The console's input while its mode is changed, and the mode to give back.
void* volatile g_console_input = nullptr;
DWORD g_console_mode = 0;

}  // namespace

bool stdout_is_terminal() { return stdout_is_console(); }

bool stdout_is_console() {
  DWORD mode;
  return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode);
}

void clear_terminal(std::ostream& out) {
  out.flush();
  HANDLE console = GetStdHandle(STD_OUTPUT_HANDLE);
  CONSOLE_SCREEN_BUFFER_INFO screen;
  if (!GetConsoleScreenBufferInfo(console, &screen)) return;
  DWORD cells = static_cast<DWORD>(screen.dwSize.X) * static_cast<DWORD>(screen.dwSize.Y);
  COORD origin = {0, 0};
  DWORD written;
  FillConsoleOutputCharacterA(console, ' ', cells, origin, &written);
  FillConsoleOutputAttribute(console, screen.wAttributes, cells, origin, &written);
  SetConsoleCursorPosition(console, origin);
}

std::string console_codeset() {
  // Without a console (output to a pipe or a file) this is 0: GBK then too.
  return GetConsoleOutputCP() == CP_UTF8 ? "UTF-8" : "GBK";
}

void keep_console_from_pausing() {
  install_console_handler();
  HANDLE input = CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE,
                             FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  if (input == INVALID_HANDLE_VALUE) return;
  DWORD mode;
  if (GetConsoleMode(input, &mode) &&
      SetConsoleMode(input, (mode & ~ENABLE_QUICK_EDIT_MODE) | ENABLE_EXTENDED_FLAGS)) {
    g_console_input = input;
    g_console_mode = mode;
    // Ending by exit(): menu item 3, or the end of the input.
    std::atexit(restore_console_mode);
    return;
  }
  CloseHandle(input);
}

void restore_console_mode() {
  HANDLE input = InterlockedExchangePointer(&g_console_input, nullptr);
  if (input == nullptr) return;
  SetConsoleMode(input, g_console_mode);
  CloseHandle(input);
}

bool directory_accepts_files(const std::string& directory) {
  std::string name = directory.empty() ? "." : directory;
  if (!is_directory(name)) return false;
  // Only trying tells whether this account may create files there.
  if (directory_part(name).size() != name.size()) name += '\\';
  name += "autodump-" + std::to_string(GetCurrentProcessId()) + ".probe";
  HANDLE probe = CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                             FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (probe == INVALID_HANDLE_VALUE) return false;
  CloseHandle(probe);
  return true;
}

bool is_directory(const std::string& path) {
  if (path.find('\0') != std::string::npos) return false;
  DWORD attributes = GetFileAttributesA(path.c_str());
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
  if (path.find('\0') != std::string::npos) return path;
  DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
    return path;
  // Opening follows the links to the file itself, which then names itself.
  HANDLE file = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return path;
  char name[MAX_PATH];
  DWORD length = GetFinalPathNameByHandleA(file, name, MAX_PATH, FILE_NAME_NORMALIZED);
  CloseHandle(file);
  if (length == 0 || length >= MAX_PATH) return path;
  std::string target(name, length);
  // "\\?\C:\..." for a drive, "\\?\UNC\server\..." for a share.
  if (target.rfind("\\\\?\\UNC\\", 0) == 0) return "\\\\" + target.substr(8);
  if (target.rfind("\\\\?\\", 0) == 0) return target.substr(4);
  return target;
}

bool dump_tool_found() {
  char found[MAX_PATH];
  return SearchPathA(nullptr, "mysqldump", ".exe", MAX_PATH, found, nullptr) > 0;
}

void sleep_milliseconds(int64_t milliseconds) { Sleep(static_cast<DWORD>(milliseconds)); }

int64_t monotonic_milliseconds() {
  LARGE_INTEGER count, frequency;
  QueryPerformanceCounter(&count);
  QueryPerformanceFrequency(&frequency);
  return count.QuadPart / frequency.QuadPart * 1000 +
         count.QuadPart % frequency.QuadPart * 1000 / frequency.QuadPart;
}

bool arguments_fit(const std::vector<std::string>& arguments) {
  std::string line = windows_command_line(arguments, is_lead_byte);
  int characters = MultiByteToWideChar(CP_ACP, 0, line.data(), static_cast<int>(line.size()),
                                       nullptr, 0);
  return static_cast<std::size_t>(characters) < kLongestCommandLine;
}
