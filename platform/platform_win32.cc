// The console, the clock, and what the program looks up in the file system.
#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "platform/platform.h"
#include "platform/win32_common.h"
#include "platform/windows_command_line.h"

namespace {

// The longest command line CreateProcess takes, its NUL included.
constexpr std::size_t kLongestCommandLine = 32767;

bool is_separator(unsigned char byte) { return byte == '/' || byte == '\\'; }

// Whether `byte` starts a two-byte character in the program's encoding: the
// byte after it may look like a backslash but is not one.
bool is_lead_byte(unsigned char byte) { return IsDBCSLeadByteEx(program_code_page(), byte); }

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
  FillConsoleOutputCharacterW(console, L' ', cells, origin, &written);
  FillConsoleOutputAttribute(console, screen.wAttributes, cells, origin, &written);
  SetConsoleCursorPosition(console, origin);
}

std::string console_codeset() {
  // Without a console (output to a pipe or a file) this is GBK too.
  return program_code_page() == CP_UTF8 ? "UTF-8" : "GBK";
}

void keep_console_from_pausing() {
  install_console_handler();
  HANDLE input =
      CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_EXISTING, 0, nullptr);
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
  HANDLE probe = CreateFileW(to_wide(name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                             FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (probe == INVALID_HANDLE_VALUE) return false;
  CloseHandle(probe);
  return true;
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
  HANDLE file = CreateFileW(wide.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return path;
  wchar_t name[MAX_PATH];
  DWORD length = GetFinalPathNameByHandleW(file, name, MAX_PATH, FILE_NAME_NORMALIZED);
  CloseHandle(file);
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

bool dump_tool_found() { return !find_program(L"mysqldump").empty(); }

std::wstring find_program(const std::wstring& name) {
  std::wstring file = name;
  if (file.find(L'.') == std::wstring::npos) file += L".exe";
  std::vector<std::wstring> folders;
  wchar_t folder[MAX_PATH];
  DWORD length = GetModuleFileNameW(nullptr, folder, MAX_PATH);
  if (length > 0 && length < MAX_PATH) {
    std::wstring own(folder, length);
    folders.push_back(own.substr(0, own.find_last_of(L"\\/") + 1));
  }
  if (NeedCurrentDirectoryForExePathW(file.c_str())) folders.push_back(L".\\");
  if (GetSystemDirectoryW(folder, MAX_PATH)) folders.push_back(std::wstring(folder) + L"\\");
  if (GetWindowsDirectoryW(folder, MAX_PATH)) {
    folders.push_back(std::wstring(folder) + L"\\System\\");
    folders.push_back(std::wstring(folder) + L"\\");
  }
  std::vector<wchar_t> path(GetEnvironmentVariableW(L"PATH", nullptr, 0) + 1);
  path.resize(GetEnvironmentVariableW(L"PATH", path.data(), static_cast<DWORD>(path.size())));
  for (std::wstring::size_type start = 0; start <= path.size();) {
    auto end = std::find(path.begin() + start, path.end(), L';') - path.begin();
    std::wstring entry(path.begin() + start, path.begin() + end);
    if (!entry.empty()) folders.push_back(entry.back() == L'\\' ? entry : entry + L"\\");
    start = end + 1;
  }
  for (const std::wstring& candidate_folder : folders) {
    std::wstring candidate = candidate_folder + file;
    DWORD attributes = GetFileAttributesW(candidate.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) continue;
    wchar_t full[MAX_PATH];
    DWORD full_length = GetFullPathNameW(candidate.c_str(), MAX_PATH, full, nullptr);
    return full_length > 0 && full_length < MAX_PATH ? std::wstring(full, full_length) : candidate;
  }
  return L"";
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
  std::vector<std::wstring> wide;
  for (const std::string& argument : arguments) wide.push_back(to_wide(argument));
  return windows_command_line(wide).size() < kLongestCommandLine;
}
