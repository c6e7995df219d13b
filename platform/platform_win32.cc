#include "platform/platform.h"

#include <windows.h>

#include <csignal>

#include "platform/windows_command_line.h"

namespace {

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

HANDLE handle_of(const temp_file& file) { return reinterpret_cast<HANDLE>(file.handle); }

// --- Ending events ----------------------------------------------------------
//
// The console runs its control handler on a thread of its own, so everything
// the handler and the main thread share is under one lock.

SRWLOCK g_lock = SRWLOCK_INIT;
bool g_holding = false;
int g_held_signal = 0;
// The running dump tool, and the job that holds it where one could be made.
HANDLE g_tool = nullptr;
HANDLE g_tool_job = nullptr;

int signal_for(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
      return SIGINT;
    case CTRL_BREAK_EVENT:
      return SIGBREAK;
    default:  // the console closed, the user logging off, the system shutting down
      return SIGTERM;
  }
}

BOOL WINAPI on_console_event(DWORD event) {
  AcquireSRWLockExclusive(&g_lock);
  bool holding = g_holding;
  if (holding) {
    if (g_held_signal == 0) g_held_signal = signal_for(event);
    // The tool shares the console but may ignore the event, or (under wine)
    // never get it.
    if (g_tool_job)
      TerminateJobObject(g_tool_job, STATUS_CONTROL_C_EXIT);
    else if (g_tool)
      TerminateProcess(g_tool, STATUS_CONTROL_C_EXIT);
  }
  ReleaseSRWLockExclusive(&g_lock);
  // Outside a dump the default handler ends the process at once.
  if (!holding) return FALSE;
  // For any other event the process ends as soon as this returns: let the main
  // thread tidy up and end it first.
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) Sleep(INFINITE);
  return TRUE;
}

int held_signal() {
  AcquireSRWLockExclusive(&g_lock);
  int signal = g_held_signal;
  ReleaseSRWLockExclusive(&g_lock);
  return signal;
}

// --- The dump tool ----------------------------------------------------------

bool is_lead_byte(unsigned char byte) { return IsDBCSLeadByte(byte); }

HANDLE inheritable_copy(HANDLE handle) {
  HANDLE copy = nullptr;
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE ||
      !DuplicateHandle(GetCurrentProcess(), handle, GetCurrentProcess(), &copy, 0, TRUE,
                       DUPLICATE_SAME_ACCESS))
    return nullptr;
  return copy;
}

HANDLE null_device() {
  SECURITY_ATTRIBUTES inherited = {sizeof inherited, nullptr, TRUE};
  HANDLE device = CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherited,
                              OPEN_EXISTING, 0, nullptr);
  return device == INVALID_HANDLE_VALUE ? nullptr : device;
}

// A job that ends `tool` with this program, however this program ends; null
// where none can be made (a job inside a job before Windows 8).
HANDLE job_for(HANDLE tool) {
  HANDLE job = CreateJobObjectA(nullptr, nullptr);
  if (job == nullptr) return nullptr;
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  if (SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits) &&
      AssignProcessToJobObject(job, tool))
    return job;
  CloseHandle(job);
  return nullptr;
}

void close_if_open(HANDLE handle) {
  if (handle != nullptr) CloseHandle(handle);
}

// Starts the tool suspended, found by name the way Windows finds a program
// (this program's folder, the current folder, the system folders, PATH).
bool start_suspended(const dump_command& command, HANDLE output, PROCESS_INFORMATION* process) {
  std::string line = windows_command_line(command.arguments, is_lead_byte);
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = null_device();
  startup.hStdOutput = inheritable_copy(output);
  startup.hStdError = inheritable_copy(GetStdHandle(STD_ERROR_HANDLE));
  bool started = startup.hStdOutput != nullptr &&
                 CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, CREATE_SUSPENDED,
                                nullptr, nullptr, &startup, process);
  close_if_open(startup.hStdInput);
  close_if_open(startup.hStdOutput);
  close_if_open(startup.hStdError);
  return started;
}

// --- The temporary file -----------------------------------------------------

// A lock far beyond any dump's end, so that it keeps other programs from
// claiming the file without keeping the tool from writing it.
bool lock_claim(HANDLE file) {
  OVERLAPPED far_end = {};
  far_end.Offset = 0xFFFFFFFE;
  far_end.OffsetHigh = 0x7FFFFFFF;
  return LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                    &far_end);
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

}  // namespace

bool stdout_is_terminal() {
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
  HANDLE input = CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE,
                             FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  if (input == INVALID_HANDLE_VALUE) return;
  DWORD mode;
  if (GetConsoleMode(input, &mode))
    SetConsoleMode(input, (mode & ~ENABLE_QUICK_EDIT_MODE) | ENABLE_EXTENDED_FLAGS);
  CloseHandle(input);
}

bool directory_accepts_files(const std::string& directory) {
  std::string name = directory.empty() ? "." : directory;
  if (name.find('\0') != std::string::npos) return false;
  DWORD attributes = GetFileAttributesA(name.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return false;
  // Only trying tells whether this account may create files there.
  if (!ends_with_separator(name)) name += '\\';
  name += "autodump-" + std::to_string(GetCurrentProcessId()) + ".probe";
  HANDLE probe = CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                             FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (probe == INVALID_HANDLE_VALUE) return false;
  CloseHandle(probe);
  return true;
}

bool ends_with_separator(const std::string& path) {
  // The second byte of a two-byte character may be a backslash's.
  bool separator = false;
  for (std::string::size_type i = 0; i < path.size(); ++i) {
    unsigned char byte = static_cast<unsigned char>(path[i]);
    separator = byte == '/' || byte == '\\';
    if (is_lead_byte(byte)) ++i;
  }
  return separator;
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

void hold_ending_signals() {
  static bool handler_installed = SetConsoleCtrlHandler(on_console_event, TRUE);
  (void)handler_installed;
  AcquireSRWLockExclusive(&g_lock);
  g_holding = true;
  g_held_signal = 0;
  ReleaseSRWLockExclusive(&g_lock);
}

int release_ending_signals() {
  AcquireSRWLockExclusive(&g_lock);
  g_holding = false;
  int signal = g_held_signal;
  ReleaseSRWLockExclusive(&g_lock);
  return signal;
}

void end_by_signal(int) { ExitProcess(STATUS_CONTROL_C_EXIT); }

claim_status create_temp_file(const std::string& path, temp_file* file, std::string* error) {
  // Others may read it and look at its lock, never write it; sharing delete
  // lets it be renamed while this program still holds it locked.
  HANDLE created = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE,
                               FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
  if (created == INVALID_HANDLE_VALUE) {
    DWORD code = GetLastError();
    if (code == ERROR_FILE_EXISTS) return claim_status::in_the_way;
    *error = describe_error(path, code);
    return claim_status::failed;
  }
  bool locked = lock_claim(created);
  // Before the lock, another program took it for a leftover: it removed it, or
  // holds it now.
  if (locked && !delete_pending(created)) {
    *file = {path, reinterpret_cast<std::intptr_t>(created)};
    return claim_status::claimed;
  }
  CloseHandle(created);
  return locked ? claim_status::in_the_way : claim_status::busy;
}

leftover_status remove_leftover(const std::string& path, std::string* error) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | DELETE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    DWORD code = GetLastError();
    if (code == ERROR_FILE_NOT_FOUND) return leftover_status::removed;
    if (code == ERROR_SHARING_VIOLATION) return leftover_status::busy;
    *error = describe_error(path, code);
    return leftover_status::failed;
  }
  if (!lock_claim(file)) {
    CloseHandle(file);
    return leftover_status::busy;
  }
  bool removed = delete_on_close(file);
  DWORD code = GetLastError();
  CloseHandle(file);
  if (removed) return leftover_status::removed;
  *error = describe_error(path, code);
  return leftover_status::failed;
}

int run_dump_tool(const dump_command& command, const temp_file& output) {
  if (int signal = held_signal()) return 128 + signal;
  PROCESS_INFORMATION tool;
  // 127 means the same as on POSIX: the tool could not be started.
  if (!start_suspended(command, handle_of(output), &tool)) return 127;
  HANDLE job = job_for(tool.hProcess);
  AcquireSRWLockExclusive(&g_lock);
  g_tool = tool.hProcess;
  g_tool_job = job;
  bool stop = g_held_signal != 0;
  ReleaseSRWLockExclusive(&g_lock);
  if (stop)
    TerminateProcess(tool.hProcess, STATUS_CONTROL_C_EXIT);
  else
    ResumeThread(tool.hThread);
  WaitForSingleObject(tool.hProcess, INFINITE);
  AcquireSRWLockExclusive(&g_lock);
  g_tool = nullptr;
  g_tool_job = nullptr;
  ReleaseSRWLockExclusive(&g_lock);
  DWORD exit_code = 0;
  GetExitCodeProcess(tool.hProcess, &exit_code);
  CloseHandle(tool.hThread);
  CloseHandle(tool.hProcess);
  close_if_open(job);
  return static_cast<int>(exit_code);
}

std::string put_in_place(temp_file* file, const std::string& dump_file) {
  HANDLE handle = handle_of(*file);
  if (!FlushFileBuffers(handle)) return describe_error(file->path, GetLastError());
  if (!MoveFileExA(file->path.c_str(), dump_file.c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    return describe_error(dump_file, GetLastError());
  CloseHandle(handle);
  file->handle = -1;
  return "";
}

void discard_temp_file(temp_file* file) {
  HANDLE handle = handle_of(*file);
  delete_on_close(handle);
  CloseHandle(handle);
  file->handle = -1;
}

std::string nul_byte_error() { return system_message(ERROR_INVALID_NAME); }
