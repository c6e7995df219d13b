// Holding the console's ending events, and starting and ending the dump tool.
#include <windows.h>

#include <algorithm>
#include <csignal>
#include <vector>

#include "platform/platform.h"
#include "platform/win32_common.h"
#include "platform/windows_command_line.h"

namespace {

// How often the tool and the clock are looked at while a dump runs. A timed
// wait would not do: its timeout leaves out the time the machine sleeps
// (Windows 8 on), and under wine it runs on the wine server's clock.
constexpr int64_t kPollMs = 100;
constexpr int64_t kSecondMs = 1000;

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

// Ends the running tool and all it started. Needs the lock.
void end_tool() {
  if (g_tool_job)
    TerminateJobObject(g_tool_job, STATUS_CONTROL_C_EXIT);
  else if (g_tool)
    TerminateProcess(g_tool, STATUS_CONTROL_C_EXIT);
}

BOOL WINAPI on_console_event(DWORD event) {
  // Only services get it, and then for any user's logging off, even another's
  // remote session: it is no reason for this program to end.
  if (event == CTRL_LOGOFF_EVENT) return TRUE;
  AcquireSRWLockExclusive(&g_lock);
  bool holding = g_holding;
  bool again = holding && g_held_signal != 0;
  if (holding) {
    if (g_held_signal == 0) g_held_signal = signal_for(event);
    // The tool shares the console but may ignore the event, or (under wine)
    // never get it.
    end_tool();
  }
  ReleaseSRWLockExclusive(&g_lock);
  if (!holding || again) restore_console_mode();
  // A second request says the operator will not wait for the tidying up; the
  // next backup clears the temporary file left.
  if (again) ExitProcess(STATUS_CONTROL_C_EXIT);
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
  HANDLE device =
      CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  &inherited, OPEN_EXISTING, 0, nullptr);
  return device == INVALID_HANDLE_VALUE ? nullptr : device;
}

// A job that ends `tool` with this program, however this program ends; null
// where none can be made (a job inside a job before Windows 8).
HANDLE job_for(HANDLE tool) {
  HANDLE job = CreateJobObjectW(nullptr, nullptr);
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

// The attribute that lets the tool inherit `handles` and no other handle this
// program holds (an answers file, a parent's pipe); null where it cannot be
// made. Freed with DeleteProcThreadAttributeList and HeapFree.
LPPROC_THREAD_ATTRIBUTE_LIST inherit_only(HANDLE* handles, std::size_t count) {
  SIZE_T size = 0;
  InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
  auto list = static_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(HeapAlloc(GetProcessHeap(), 0, size));
  if (list && InitializeProcThreadAttributeList(list, 1, 0, &size)) {
    if (UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handles,
                                  count * sizeof(HANDLE), nullptr, nullptr))
      return list;
    DeleteProcThreadAttributeList(list);
  }
  if (list) HeapFree(GetProcessHeap(), 0, list);
  return nullptr;
}

// Starts the tool suspended, found by name the way Windows finds a program
// (find_program()).
bool start_suspended(const dump_command& command, HANDLE output, PROCESS_INFORMATION* process) {
  std::wstring program = find_program(to_wide(command.arguments[0]));
  if (program.empty()) return false;
  std::vector<std::wstring> arguments;
  for (const std::string& argument : command.arguments) arguments.push_back(to_wide(argument));
  std::wstring line = windows_command_line(arguments);
  // The program's own standard error, where it has one (not under a service
  // wrapper that gave it none).
  HANDLE error = inheritable_copy(GetStdHandle(STD_ERROR_HANDLE));
  HANDLE handles[] = {null_device(),
                      output == INVALID_HANDLE_VALUE ? null_device() : inheritable_copy(output),
                      error ? error : null_device()};
  STARTUPINFOEXW startup = {};
  startup.StartupInfo.cb = sizeof startup;
  startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
  startup.StartupInfo.hStdInput = handles[0];
  startup.StartupInfo.hStdOutput = handles[1];
  startup.StartupInfo.hStdError = handles[2];
  startup.lpAttributeList = inherit_only(handles, 3);
  // Without a console of its own (a service, a detached start), a console
  // program would get a window of its own for each dump.
  DWORD flags = CREATE_SUSPENDED | (GetConsoleWindow() ? 0 : CREATE_NO_WINDOW) |
                (startup.lpAttributeList ? EXTENDED_STARTUPINFO_PRESENT : 0);
  bool started = handles[0] && handles[1] && handles[2] &&
                 CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, TRUE, flags,
                                nullptr, nullptr, &startup.StartupInfo, process);
  if (startup.lpAttributeList) {
    DeleteProcThreadAttributeList(startup.lpAttributeList);
    HeapFree(GetProcessHeap(), 0, startup.lpAttributeList);
  }
  for (HANDLE handle : handles) close_if_open(handle);
  return started;
}

// Waits for the tool to end, calling `each_second` on the way, and ends it at
// its deadline. Returns whether it was still running then.
bool wait_for(HANDLE tool, int64_t deadline_ms, const std::function<void()>& each_second) {
  int64_t next_second_ms = monotonic_milliseconds() + kSecondMs;
  for (;;) {
    if (WaitForSingleObject(tool, 0) != WAIT_TIMEOUT) return false;
    int64_t now_ms = monotonic_milliseconds();
    if (now_ms >= deadline_ms) break;
    if (now_ms >= next_second_ms) {
      if (each_second) each_second();
      next_second_ms += kSecondMs;
      if (next_second_ms <= now_ms) next_second_ms = now_ms + kSecondMs;
    }
    Sleep(static_cast<DWORD>(std::min({deadline_ms - now_ms, next_second_ms - now_ms, kPollMs})));
  }
  AcquireSRWLockExclusive(&g_lock);
  end_tool();
  ReleaseSRWLockExclusive(&g_lock);
  WaitForSingleObject(tool, INFINITE);
  return true;
}

}  // namespace

void install_console_handler() {
  static bool installed = SetConsoleCtrlHandler(on_console_event, TRUE);
  (void)installed;
}

void hold_ending_signals() {
  install_console_handler();
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

void end_by_signal(int) {
  restore_console_mode();
  ExitProcess(STATUS_CONTROL_C_EXIT);
}

bool ending_signal_held() { return held_signal() != 0; }

int run_dump_tool(const dump_command& command, const temp_file& output, int64_t deadline_ms,
                  const std::function<void()>& each_second) {
  if (int signal = held_signal()) return 128 + signal;
  PROCESS_INFORMATION tool;
  // 127 means the same as on POSIX: the tool could not be started.
  if (!start_suspended(command, reinterpret_cast<HANDLE>(output.handle), &tool)) return 127;
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
  // A machine that sleeps mid-dump would leave the server's connection to
  // time out.
  SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED);
  bool overran = wait_for(tool.hProcess, deadline_ms, each_second);
  SetThreadExecutionState(ES_CONTINUOUS);
  AcquireSRWLockExclusive(&g_lock);
  g_tool = nullptr;
  g_tool_job = nullptr;
  ReleaseSRWLockExclusive(&g_lock);
  DWORD exit_code = 0;
  GetExitCodeProcess(tool.hProcess, &exit_code);
  CloseHandle(tool.hThread);
  CloseHandle(tool.hProcess);
  close_if_open(job);
  return overran ? dump_tool_overran : static_cast<int>(exit_code);
}
