// Finding, starting, waiting for and ending programs, and holding the
// console's ending events meanwhile.
#include "platform/programs_win32.h"

#include <windows.h>

#include <algorithm>
#include <csignal>
#include <vector>

#include "platform/console_win32.h"
#include "platform/platform.h"
#include "platform/win32_common.h"
#include "platform/windows_command_line.h"

namespace {

// The longest command line CreateProcess takes, its NUL included.
constexpr std::size_t kLongestCommandLine = 32767;

// How often a running program is looked at. A timed wait would not do: its
// timeout leaves out the time the machine sleeps (Windows 8 on), and under
// wine it runs on the wine server's clock.
constexpr int64_t kPollMs = 100;

// The console runs its control handler on a thread of its own, so everything
// the handler and the main thread share is under one lock.
SRWLOCK g_lock = SRWLOCK_INIT;
bool g_holding = false;
int g_held_signal = 0;
// The running program, and the job that holds it where one could be made.
HANDLE g_running = nullptr;
HANDLE g_running_job = nullptr;

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

// Ends the running program and all it started. Needs the lock.
void end_running() {
  if (g_running_job)
    TerminateJobObject(g_running_job, STATUS_CONTROL_C_EXIT);
  else if (g_running)
    TerminateProcess(g_running, STATUS_CONTROL_C_EXIT);
}

void set_running(HANDLE process, HANDLE job) {
  AcquireSRWLockExclusive(&g_lock);
  g_running = process;
  g_running_job = job;
  ReleaseSRWLockExclusive(&g_lock);
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
    // The program shares the console but may ignore the event, or (under
    // wine) never get it.
    end_running();
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

scoped_handle inheritable_copy(HANDLE handle) {
  HANDLE copy = nullptr;
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE ||
      !DuplicateHandle(GetCurrentProcess(), handle, GetCurrentProcess(), &copy, 0, TRUE,
                       DUPLICATE_SAME_ACCESS))
    return scoped_handle();
  return owned(copy);
}

scoped_handle null_device() {
  SECURITY_ATTRIBUTES inherited = {sizeof inherited, nullptr, TRUE};
  return owned(CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           &inherited, OPEN_EXISTING, 0, nullptr));
}

// A job that ends `process` with this program, however this program ends;
// not valid where none can be made (a job inside a job before Windows 8).
scoped_handle job_for(HANDLE process) {
  scoped_handle job = owned(CreateJobObjectW(nullptr, nullptr));
  if (!job.valid()) return job;
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  if (SetInformationJobObject(raw(job), JobObjectExtendedLimitInformation, &limits,
                              sizeof limits) &&
      AssignProcessToJobObject(raw(job), process))
    return job;
  return scoped_handle();
}

// The attribute that lets the program inherit `handles` and no other handle
// this program holds (an answers file, a parent's pipe); null where it cannot
// be made. Freed with free_attributes().
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

void free_attributes(LPPROC_THREAD_ATTRIBUTE_LIST list) {
  if (!list) return;
  DeleteProcThreadAttributeList(list);
  HeapFree(GetProcessHeap(), 0, list);
}

// Starts `program` suspended with the command line `line` and the three
// standard handles given; with `break_away`, outside the job this program runs
// in.
bool start_suspended(const std::wstring& program, std::wstring line, HANDLE (&handles)[3],
                     bool break_away, PROCESS_INFORMATION* process) {
  STARTUPINFOEXW startup = {};
  startup.StartupInfo.cb = sizeof startup;
  startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
  startup.StartupInfo.hStdInput = handles[0];
  startup.StartupInfo.hStdOutput = handles[1];
  startup.StartupInfo.hStdError = handles[2];
  startup.lpAttributeList = inherit_only(handles, 3);
  // Without a console of its own (a service, a detached start), a console
  // program would get a window of its own each time.
  DWORD flags = CREATE_SUSPENDED | (GetConsoleWindow() ? 0 : CREATE_NO_WINDOW) |
                (startup.lpAttributeList ? EXTENDED_STARTUPINFO_PRESENT : 0);
  if (break_away) flags |= CREATE_BREAKAWAY_FROM_JOB;
  bool started = CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, TRUE, flags,
                                nullptr, nullptr, &startup.StartupInfo, process);
  free_attributes(startup.lpAttributeList);
  return started;
}

// Whether `path` names a file (not a folder).
bool is_file(const std::wstring& path) {
  DWORD attributes = GetFileAttributesW(long_form(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// This program's own path, however long.
std::wstring own_path() {
  std::wstring own(MAX_PATH, L'\0');
  for (;;) {
    DWORD length = GetModuleFileNameW(nullptr, own.data(), static_cast<DWORD>(own.size()));
    if (length == 0) return L"";
    if (length < own.size()) return own.substr(0, length);
    own.resize(own.size() * 2);
  }
}

// A folder that a call of this shape (GetSystemDirectoryW) names, sized as it
// says, with its separator; "" where it names none.
std::wstring system_folder(UINT (*call)(LPWSTR, UINT)) {
  std::wstring folder(call(nullptr, 0), L'\0');
  UINT length = folder.empty() ? 0 : call(folder.data(), static_cast<UINT>(folder.size()));
  if (length == 0 || length >= folder.size()) return L"";
  return folder.substr(0, length) + L"\\";
}

// Where Windows looks for a program named bare, in its order.
std::vector<std::wstring> program_folders(const std::wstring& file) {
  std::vector<std::wstring> folders;
  std::wstring own = own_path();
  if (!own.empty()) folders.push_back(own.substr(0, own.find_last_of(L"\\/") + 1));
  if (NeedCurrentDirectoryForExePathW(file.c_str())) folders.push_back(L".\\");
  std::wstring system = system_folder(GetSystemDirectoryW);
  std::wstring windows = system_folder(GetWindowsDirectoryW);
  if (!system.empty()) folders.push_back(system);
  if (!windows.empty()) folders.insert(folders.end(), {windows + L"System\\", windows});
  std::vector<wchar_t> path(GetEnvironmentVariableW(L"PATH", nullptr, 0) + 1);
  path.resize(GetEnvironmentVariableW(L"PATH", path.data(), static_cast<DWORD>(path.size())));
  for (std::wstring::size_type start = 0; start <= path.size();) {
    auto end = std::find(path.begin() + start, path.end(), L';') - path.begin();
    std::wstring entry(path.begin() + start, path.begin() + end);
    if (!entry.empty()) folders.push_back(entry.back() == L'\\' ? entry : entry + L"\\");
    start = end + 1;
  }
  return folders;
}

std::wstring find_program_wide(const std::wstring& name) {
  std::wstring file = name;
  std::wstring::size_type separator = file.find_last_of(L"\\/");
  if (file.find(L'.', separator == std::wstring::npos ? 0 : separator) == std::wstring::npos)
    file += L".exe";
  // A path names the program itself: nothing is searched.
  if (separator != std::wstring::npos) return is_file(file) ? file : L"";
  for (const std::wstring& folder : program_folders(file))
    if (is_file(folder + file)) return full_path(folder + file);
  return L"";
}

}  // namespace

struct program {
  scoped_handle process;
  scoped_handle job;
  bool ended = false;
};

namespace {

// Whether every process of the program's job has ended: what it started may
// still write into its output.
bool all_ended(const program& started) {
  JOBOBJECT_BASIC_ACCOUNTING_INFORMATION accounting;
  return !started.job.valid() ||
         !QueryInformationJobObject(raw(started.job), JobObjectBasicAccountingInformation,
                                    &accounting, sizeof accounting, nullptr) ||
         accounting.ActiveProcesses == 0;
}

}  // namespace

void program_deleter::operator()(program* started) const {
  if (!started->ended) {
    end_program_by_force(*started);
    WaitForSingleObject(raw(started->process), INFINITE);
    set_running(nullptr, nullptr);
    SetThreadExecutionState(ES_CONTINUOUS);
  }
  delete started;
}

std::string find_program(const std::string& name) {
  return from_wide(find_program_wide(to_wide(name)));
}

bool arguments_fit(const std::vector<std::string>& arguments) {
  std::vector<std::wstring> wide;
  for (const std::string& argument : arguments) wide.push_back(to_wide(argument));
  return windows_command_line(wide).size() < kLongestCommandLine;
}

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

bool ending_signal_held() { return held_signal() != 0; }

void end_by_signal(int) {
  restore_console_mode();
  ExitProcess(STATUS_CONTROL_C_EXIT);
}

void survive_closed_pipes() {
  // A write into a pipe nobody reads fails with ERROR_NO_DATA; nothing ends.
}

bool start_program(const std::vector<std::string>& arguments, const scoped_handle& output,
                   program_ptr* started, os_error* error) {
  std::wstring path = find_program_wide(to_wide(arguments[0]));
  if (path.empty()) return failed(error, arguments[0], ERROR_FILE_NOT_FOUND);
  std::vector<std::wstring> wide;
  for (const std::string& argument : arguments) wide.push_back(to_wide(argument));
  // This program's own standard error, where it has one (not under a service
  // wrapper that gave it none).
  scoped_handle error_output = inheritable_copy(GetStdHandle(STD_ERROR_HANDLE));
  scoped_handle standard[] = {null_device(),
                              output.valid() ? inheritable_copy(raw(output)) : null_device(),
                              error_output.valid() ? std::move(error_output) : null_device()};
  HANDLE handles[] = {raw(standard[0]), raw(standard[1]), raw(standard[2])};
  PROCESS_INFORMATION process;
  const std::wstring line = windows_command_line(wide);
  if (!standard[0].valid() || !standard[1].valid() || !standard[2].valid() ||
      !start_suspended(path, line, handles, false, &process))
    return failed(error, arguments[0], GetLastError());
  scoped_handle job = job_for(process.hProcess);
  // A job this program runs in that sets UI limits (a service wrapper's) holds
  // no other: started outside it, where it allows that, the tool gets one of
  // its own all the same. The first start never ran.
  PROCESS_INFORMATION outside;
  if (!job.valid() && start_suspended(path, line, handles, true, &outside)) {
    TerminateProcess(process.hProcess, STATUS_CONTROL_C_EXIT);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    process = outside;
    job = job_for(process.hProcess);
  }
  program_ptr running(new program);
  running->process = owned(process.hProcess);
  scoped_handle thread = owned(process.hThread);
  running->job = std::move(job);
  set_running(process.hProcess, raw(running->job));
  // An event that came before the program could be ended with the others.
  if (held_signal() != 0)
    TerminateProcess(process.hProcess, STATUS_CONTROL_C_EXIT);
  else
    ResumeThread(process.hThread);
  // A machine that sleeps mid-dump would leave the server's connection to
  // time out.
  SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED);
  *started = std::move(running);
  return true;
}

bool wait_for_program(program& started, int64_t timeout_ms, int* status) {
  const int64_t until_ms = monotonic_milliseconds() + timeout_ms;
  for (;;) {
    if (WaitForSingleObject(raw(started.process), 0) != WAIT_TIMEOUT && all_ended(started)) {
      started.ended = true;
      set_running(nullptr, nullptr);
      SetThreadExecutionState(ES_CONTINUOUS);
      DWORD exit_code = 0;
      GetExitCodeProcess(raw(started.process), &exit_code);
      *status = static_cast<int>(exit_code);
      return true;
    }
    int64_t left_ms = until_ms - monotonic_milliseconds();
    if (left_ms <= 0) return false;
    Sleep(static_cast<DWORD>(std::min(left_ms, kPollMs)));
  }
}

void end_program_politely(program& started) { end_program_by_force(started); }

void end_program_by_force(program& started) {
  AcquireSRWLockExclusive(&g_lock);
  if (started.job.valid())
    TerminateJobObject(raw(started.job), STATUS_CONTROL_C_EXIT);
  else
    TerminateProcess(raw(started.process), STATUS_CONTROL_C_EXIT);
  ReleaseSRWLockExclusive(&g_lock);
}
