// Holding the ending signals, and starting and ending the dump tool.
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/signalfd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>

#include "platform/platform.h"

namespace {

// Every signal whose default action ends the process and that another process
// may send, apart from the real-time ones; not the program's own faults
// (SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGTRAP, SIGSYS), which must end
// it at once.
constexpr int kEndingSignals[] = {SIGINT,  SIGQUIT, SIGTERM, SIGHUP,    SIGPIPE,
                                  SIGUSR1, SIGUSR2, SIGALRM, SIGVTALRM, SIGPROF,
                                  SIGIO,   SIGPWR,  SIGXCPU, SIGXFSZ,   SIGSTKFLT};

// A tool that ignores SIGTERM at its deadline is killed this much later.
constexpr int64_t kGraceMs = 10'000;
// The longest single wait, and the interval of the calls while a tool runs.
constexpr int64_t kSecondMs = 1000;

// While held, the ending signals are blocked rather than caught, and taken
// with sigwaitinfo: no handler, so no race between a check and a wait.
sigset_t g_held_set;
sigset_t g_saved_mask;
struct sigaction g_saved_sigchld;
int g_held_signal = 0;

void note_held(int signal) {
  if (g_held_signal == 0) g_held_signal = signal;
}

void hold_if_not_ignored(int signal) {
  struct sigaction current;
  // Blocking an ignored signal would let it be taken as held (nohup).
  if (sigaction(signal, nullptr, &current) == 0 && current.sa_handler != SIG_IGN)
    sigaddset(&g_held_set, signal);
}

// The held signal that is pending, taken without waiting; 0 if none.
int take_pending_signal() {
  timespec no_wait{0, 0};
  int signal = sigtimedwait(&g_held_set, nullptr, &no_wait);
  return signal > 0 ? signal : 0;
}

int exit_status_of(int wait_status) {
  if (WIFEXITED(wait_status)) return WEXITSTATUS(wait_status);
  if (WIFSIGNALED(wait_status)) return 128 + WTERMSIG(wait_status);
  return 255;
}

// In the child: becomes the tool, found on PATH as the shell finds a command.
[[noreturn]] void become_tool(const dump_command& command, int output, pid_t parent) {
  // Killed with this program, even by SIGKILL; and if this program is already
  // gone, it must not start at all.
  if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || getppid() != parent) _exit(128 + SIGKILL);
  // Standard output first: the claimed file may have been given descriptor 0
  // or 1 by a program started without them.
  if (output < 0) output = open("/dev/null", O_WRONLY | O_CLOEXEC);
  int moved = output == STDOUT_FILENO ? fcntl(output, F_SETFD, 0) : dup2(output, STDOUT_FILENO);
  if (output < 0 || moved < 0) _exit(127);
  // The scheduler never reads the console again; neither may the tool.
  int null_device = open("/dev/null", O_RDONLY);
  if (null_device < 0 || (null_device != STDIN_FILENO && dup2(null_device, STDIN_FILENO) < 0))
    _exit(127);
  // The tool gets the signal mask the program had, not the one holding signals.
  sigprocmask(SIG_SETMASK, &g_saved_mask, nullptr);
  std::vector<char*> argv;
  for (const std::string& argument : command.arguments)
    argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  execvp(argv[0], argv.data());
  // As a shell reports a command it cannot find, or cannot run.
  _exit(errno == ENOENT ? 127 : 126);
}

// Waits up to `timeout_ms` for one of `set`, which must be blocked; returns
// it, or 0. Through a signal descriptor where one can be had, as poll() is
// timed on the same clock as the program's (sigtimedwait() is not, under a
// test's fast clock).
int wait_for_signal(int signal_fd, const sigset_t& set, int64_t timeout_ms) {
  if (signal_fd < 0) {
    timespec timeout{static_cast<time_t>(timeout_ms / 1000),
                     static_cast<long>(timeout_ms % 1000) * 1000000L};
    int signal = sigtimedwait(&set, nullptr, &timeout);
    return signal > 0 ? signal : 0;
  }
  pollfd ready{signal_fd, POLLIN, 0};
  signalfd_siginfo info;
  if (poll(&ready, 1, static_cast<int>(timeout_ms)) <= 0 ||
      read(signal_fd, &info, sizeof info) != static_cast<ssize_t>(sizeof info))
    return 0;
  return static_cast<int>(info.ssi_signo);
}

// Waits for the tool, passing held signals on, ending it at its deadline, and
// calling `each_second` on the way.
int wait_for(pid_t pid, int64_t deadline_ms, const std::function<void()>& each_second) {
  sigset_t wake = g_held_set;
  sigaddset(&wake, SIGCHLD);
  int signal_fd = signalfd(-1, &wake, SFD_CLOEXEC);
  int passed_on = 0;
  bool overran = false;
  int64_t kill_at_ms = deadline_ms;
  int64_t next_second_ms = monotonic_milliseconds() + kSecondMs;
  for (;;) {
    int status = 0;
    pid_t ended = waitpid(pid, &status, WNOHANG);
    if (ended == pid || (ended < 0 && errno != EINTR)) {
      if (signal_fd >= 0) close(signal_fd);
      if (ended != pid) return 255;
      return overran ? dump_tool_overran : exit_status_of(status);
    }
    int64_t now_ms = monotonic_milliseconds();
    if (now_ms >= kill_at_ms) {
      kill(pid, overran ? SIGKILL : SIGTERM);
      kill_at_ms = overran ? INT64_MAX : now_ms + kGraceMs;
      overran = true;
    }
    if (now_ms >= next_second_ms) {
      if (each_second) each_second();
      next_second_ms += kSecondMs;
      if (next_second_ms <= now_ms) next_second_ms = now_ms + kSecondMs;
    }
    int64_t wait_ms =
        std::clamp<int64_t>(std::min(kill_at_ms, next_second_ms) - now_ms, 0, kSecondMs);
    int signal = wait_for_signal(signal_fd, wake, wait_ms);
    if (signal <= 0 || signal == SIGCHLD) continue;
    note_held(signal);
    // A second signal says the operator will not wait for the tool to tidy up.
    kill(pid, ++passed_on == 1 ? signal : SIGKILL);
  }
}

}  // namespace

void hold_ending_signals() {
  g_held_signal = 0;
  sigemptyset(&g_held_set);
  for (int signal : kEndingSignals) hold_if_not_ignored(signal);
  for (int signal = SIGRTMIN; signal <= SIGRTMAX; ++signal) hold_if_not_ignored(signal);
  sigset_t block = g_held_set;
  sigaddset(&block, SIGCHLD);
  sigprocmask(SIG_BLOCK, &block, &g_saved_mask);
  // An inherited "ignore SIGCHLD" would make the tool's status vanish.
  struct sigaction by_default = {};
  by_default.sa_handler = SIG_DFL;
  sigaction(SIGCHLD, &by_default, &g_saved_sigchld);
}

int release_ending_signals() {
  for (int signal; (signal = take_pending_signal()) != 0;) note_held(signal);
  sigaction(SIGCHLD, &g_saved_sigchld, nullptr);
  sigprocmask(SIG_SETMASK, &g_saved_mask, nullptr);
  return g_held_signal;
}

void end_by_signal(int signal) {
  std::signal(signal, SIG_DFL);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, signal);
  sigprocmask(SIG_UNBLOCK, &set, nullptr);
  raise(signal);
  _exit(128 + signal);
}

bool ending_signal_held() {
  if (int signal = take_pending_signal()) note_held(signal);
  return g_held_signal != 0;
}

int run_dump_tool(const dump_command& command, const temp_file& output, int64_t deadline_ms,
                  const std::function<void()>& each_second) {
  if (int signal = take_pending_signal()) {
    note_held(signal);
    return 128 + signal;
  }
  pid_t parent = getpid();
  pid_t pid = fork();
  if (pid == 0) become_tool(command, static_cast<int>(output.handle), parent);
  return pid < 0 ? 127 : wait_for(pid, deadline_ms, each_second);
}
