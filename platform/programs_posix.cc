// Finding, starting, waiting for and ending programs, and holding the ending
// signals meanwhile.
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/platform.h"

extern char** environ;

namespace {

// The most bytes one argument may hold, its NUL included (MAX_ARG_STRLEN).
constexpr std::size_t kLongestArgument = 32 * 4096;

// Every signal whose default action ends the process and that another process
// may send, apart from the real-time ones; not the program's own faults
// (SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGTRAP, SIGSYS), which must end
// it at once, nor SIGPIPE, a failed write (survive_closed_pipes()).
constexpr int kEndingSignals[] = {SIGINT,  SIGQUIT, SIGTERM,   SIGHUP,  SIGUSR1,
                                  SIGUSR2, SIGALRM, SIGVTALRM, SIGPROF, SIGIO,
                                  SIGPWR,  SIGXCPU, SIGXFSZ,   SIGSTKFLT};

// What SIGPIPE did before survive_closed_pipes(), for the programs started.
struct sigaction g_inherited_sigpipe;
bool g_sigpipe_changed = false;

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

bool is_program(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
}

// In the child: becomes the program, found on PATH as the shell finds a command.
[[noreturn]] void become(const std::vector<std::string>& arguments, int output, pid_t parent) {
  // Killed with this program, even by SIGKILL; and if this program is already
  // gone, it must not start at all.
  if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || getppid() != parent) _exit(128 + SIGKILL);
  // A session and a process group of its own, so that whatever it starts is
  // ended with it; and no terminal: no Ctrl-C behind this program's back, and
  // no password prompt on a terminal it could never read (it would be stopped
  // there, a background job), only the null device.
  setsid();
  // Standard output first: the output file may have been given descriptor 0
  // or 1 by a program started without them.
  if (output < 0) output = open("/dev/null", O_WRONLY | O_CLOEXEC);
  int moved = output == STDOUT_FILENO ? fcntl(output, F_SETFD, 0) : dup2(output, STDOUT_FILENO);
  if (output < 0 || moved < 0) _exit(127);
  // Nothing may read the console's input behind the program's back.
  int null_device = open("/dev/null", O_RDONLY);
  if (null_device < 0 || (null_device != STDIN_FILENO && dup2(null_device, STDIN_FILENO) < 0))
    _exit(127);
  // The program gets the signal mask this one had, not the one holding signals,
  // and meets a reader that is gone as it would have without this one.
  sigprocmask(SIG_SETMASK, &g_saved_mask, nullptr);
  if (g_sigpipe_changed) sigaction(SIGPIPE, &g_inherited_sigpipe, nullptr);
  std::vector<char*> argv;
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  execvp(argv[0], argv.data());
  // As a shell reports a command it cannot find, or cannot run.
  _exit(errno == ENOENT ? 127 : 126);
}

// Waits up to `timeout_ms` for one of `set`, which must be blocked; returns
// it, or 0. Through a signal descriptor where one can be had, as poll() is
// timed on the same clock as the program's (sigtimedwait() is not, under a
// test's fast clock).
int wait_for_signal(const scoped_handle& signal_fd, const sigset_t& set, int64_t timeout_ms) {
  if (!signal_fd.valid()) {
    timespec timeout{static_cast<time_t>(timeout_ms / 1000),
                     static_cast<long>(timeout_ms % 1000) * 1000000L};
    int signal = sigtimedwait(&set, nullptr, &timeout);
    return signal > 0 ? signal : 0;
  }
  pollfd ready{static_cast<int>(signal_fd.get()), POLLIN, 0};
  signalfd_siginfo info;
  if (poll(&ready, 1, static_cast<int>(timeout_ms)) <= 0 ||
      read(ready.fd, &info, sizeof info) != static_cast<ssize_t>(sizeof info))
    return 0;
  return static_cast<int>(info.ssi_signo);
}

}  // namespace

struct program {
  pid_t pid = -1;
  bool leader_ended = false;
  bool ended = false;  // with all it started; nothing is then signalled again
  int status = 0;
  int signals_passed_on = 0;
  // Children this program had before it started this one (a shell's process
  // substitution that reads its output): none of them is part of it.
  std::vector<pid_t> earlier_children;
  // The held signals and SIGCHLD, which wake the waiting.
  sigset_t wake;
  scoped_handle signal_fd;
};

namespace {

// The parent and process group of process `pid`, from /proc/PID/stat; false
// where it is gone.
bool parent_and_group(const char* pid, pid_t* parent, pid_t* group) {
  const std::string path = std::string("/proc/") + pid + "/stat";
  scoped_handle file(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  char stat[512];
  ssize_t length = file.valid() ? read(static_cast<int>(file.get()), stat, sizeof stat - 1) : -1;
  if (length <= 0) return false;
  stat[length] = '\0';
  // The command's name, in parentheses, may hold anything, ")" too.
  const char* after_name = std::strrchr(stat, ')');
  int parsed_parent = 0, parsed_group = 0;
  if (!after_name || std::sscanf(after_name, ") %*c %d %d", &parsed_parent, &parsed_group) != 2)
    return false;
  *parent = parsed_parent;
  *group = parsed_group;
  return true;
}

struct process {
  pid_t pid, parent, group;
};

// Every process /proc shows now; false where it cannot be read.
bool all_processes(std::vector<process>* all) {
  std::unique_ptr<DIR, int (*)(DIR*)> proc(opendir("/proc"), closedir);
  if (!proc) return false;
  all->clear();
  while (const dirent* entry = readdir(proc.get())) {
    process p{std::atoi(entry->d_name), 0, 0};
    if (p.pid > 0 && parent_and_group(entry->d_name, &p.parent, &p.group)) all->push_back(p);
  }
  return true;
}

bool is_one_of(pid_t pid, const std::vector<pid_t>& pids) {
  return std::find(pids.begin(), pids.end(), pid) != pids.end();
}

// The children of this program that are part of `started`: all of them but
// those it had before. This program being the subreaper of what `started`
// leaves behind, `started` has ended once none is left.
std::vector<process> children_of_started(const program& started, const std::vector<process>& all) {
  std::vector<process> children;
  for (const process& p : all)
    if (p.parent == getpid() && !is_one_of(p.pid, started.earlier_children)) children.push_back(p);
  return children;
}

// Everything below this program that is part of `started`.
std::vector<process> below_started(const program& started, const std::vector<process>& all) {
  std::vector<process> found = children_of_started(started, all);
  for (std::size_t next = 0; next < found.size(); ++next)
    for (const process& p : all)
      if (p.parent == found[next].pid) found.push_back(p);
  return found;
}

// Sends `signal` to everything the program started, wherever it went: this
// program is their subreaper, so a process that left the program's group or
// session (setsid, a shell's job control) is still below it. Each one's whole
// group is signalled, so that a process forked meanwhile is not missed.
void signal_all(program& started, int signal) {
  if (started.ended) return;
  std::vector<process> all;
  if (!all_processes(&all)) {
    kill(-started.pid, signal);  // without /proc, at least the program's own group
    return;
  }
  const pid_t own_group = getpgrp();
  std::vector<pid_t> groups;
  for (const process& p : below_started(started, all)) {
    if (p.group == own_group) {
      kill(p.pid, signal);
    } else if (!is_one_of(p.group, groups)) {
      groups.push_back(p.group);
      kill(-p.group, signal);
    }
  }
}

// Reaps every child that has ended: the program, what it started and left
// behind, which this program adopts as their subreaper, and any other. True
// once nothing of `started` is left.
bool reap(program& started) {
  for (;;) {
    int wait_status = 0;
    pid_t ended = waitpid(-1, &wait_status, WNOHANG);
    if (ended <= 0) break;
    if (ended == started.pid) {
      started.leader_ended = true;
      started.status = exit_status_of(wait_status);
    }
  }
  if (!started.leader_ended) return false;
  std::vector<process> all;
  if (all_processes(&all))
    started.ended = children_of_started(started, all).empty();
  else  // without /proc, its own group
    started.ended = kill(-started.pid, 0) != 0 && errno == ESRCH;
  return started.ended;
}

}  // namespace

void program_deleter::operator()(program* started) const {
  // What a killed process had started comes to this one, and is killed in the
  // next round.
  while (!reap(*started)) {
    signal_all(*started, SIGKILL);
    // Until a child has ended, leaving it for reap() to collect.
    siginfo_t ended;
    if (waitid(P_ALL, 0, &ended, WEXITED | WNOWAIT) != 0 && errno == ECHILD) break;
  }
  delete started;
}

std::string find_program(const std::string& name) {
  if (name.find('/') != std::string::npos) return is_program(name) ? name : "";
  // The search of execvp: an empty entry is the current directory, and no
  // PATH at all means the C library's default one.
  const char* path = std::getenv("PATH");
  std::string directories = path ? path : "/bin:/usr/bin";
  std::string::size_type start = 0;
  for (;;) {
    std::string::size_type end = directories.find(':', start);
    std::string directory = directories.substr(start, end - start);
    std::string candidate = (directory.empty() ? "." : directory) + "/" + name;
    if (is_program(candidate)) return candidate;
    if (end == std::string::npos) return "";
    start = end + 1;
  }
}

bool arguments_fit(const std::vector<std::string>& arguments) {
  // The kernel counts each string with its NUL, and a pointer to each.
  std::size_t total = 0;
  for (const std::string& argument : arguments) {
    if (argument.size() + 1 > kLongestArgument) return false;
    total += argument.size() + 1 + sizeof(char*);
  }
  for (char** variable = environ; *variable; ++variable)
    total += std::strlen(*variable) + 1 + sizeof(char*);
  long limit = sysconf(_SC_ARG_MAX);
  return limit <= 0 || total <= static_cast<std::size_t>(limit);
}

void survive_closed_pipes() {
  struct sigaction ignore = {};
  ignore.sa_handler = SIG_IGN;
  g_sigpipe_changed = sigaction(SIGPIPE, &ignore, &g_inherited_sigpipe) == 0;
}

void hold_ending_signals() {
  g_held_signal = 0;
  sigemptyset(&g_held_set);
  for (int signal : kEndingSignals) hold_if_not_ignored(signal);
  for (int signal = SIGRTMIN; signal <= SIGRTMAX; ++signal) hold_if_not_ignored(signal);
  sigset_t block = g_held_set;
  sigaddset(&block, SIGCHLD);
  sigprocmask(SIG_BLOCK, &block, &g_saved_mask);
  // An inherited "ignore SIGCHLD" would make the program's status vanish.
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

bool ending_signal_held() {
  if (int signal = take_pending_signal()) note_held(signal);
  return g_held_signal != 0;
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

bool start_program(const std::vector<std::string>& arguments, const scoped_handle& output,
                   program_ptr* started, os_error* error) {
  // What the program starts and leaves behind becomes this one's to wait for,
  // not init's, so that its end can be told.
  prctl(PR_SET_CHILD_SUBREAPER, 1);
  // The one before is ended first, with all that was part of it.
  started->reset();
  // Closed by the program's start: by then its group exists, and a signal
  // sent to the group cannot miss it.
  int started_pipe[2];
  if (pipe2(started_pipe, O_CLOEXEC) != 0) {
    if (error) *error = {error_kind::other, "", std::strerror(errno)};
    return false;
  }
  scoped_handle read_end(started_pipe[0]), write_end(started_pipe[1]);
  pid_t parent = getpid();
  // Before the fork: whatever comes to this program after it is the program's.
  std::vector<pid_t> earlier_children;
  std::vector<process> all;
  if (all_processes(&all))
    for (const process& p : all)
      if (p.parent == parent) earlier_children.push_back(p.pid);
  pid_t pid = fork();
  if (pid == 0) become(arguments, static_cast<int>(output.get()), parent);
  if (pid < 0) {
    if (error) *error = {error_kind::other, "", std::strerror(errno)};
    return false;
  }
  write_end.reset();
  char nothing;
  while (read(started_pipe[0], &nothing, 1) < 0 && errno == EINTR) {
  }
  program_ptr running(new program);
  running->pid = pid;
  running->earlier_children = std::move(earlier_children);
  running->wake = g_held_set;
  sigaddset(&running->wake, SIGCHLD);
  running->signal_fd.reset(signalfd(-1, &running->wake, SFD_CLOEXEC));
  *started = std::move(running);
  return true;
}

bool wait_for_program(program& started, int64_t timeout_ms, int* status) {
  const int64_t until_ms = monotonic_milliseconds() + timeout_ms;
  for (;;) {
    if (reap(started)) {
      *status = started.status;
      return true;
    }
    int64_t left_ms = until_ms - monotonic_milliseconds();
    if (left_ms <= 0) return false;
    // One held while nobody waited (taken by ending_signal_held()) goes on too.
    if (g_held_signal != 0 && started.signals_passed_on == 0) {
      signal_all(started, g_held_signal);
      started.signals_passed_on = 1;
    }
    // Every child that ends sends SIGCHLD; the last one left ends last. The
    // timeout only guards against a signal missed.
    int signal = wait_for_signal(started.signal_fd, started.wake, std::min<int64_t>(left_ms, 1000));
    if (signal <= 0 || signal == SIGCHLD) continue;
    note_held(signal);
    // A second signal says the operator will not wait for the program to tidy up.
    signal_all(started, ++started.signals_passed_on == 1 ? signal : SIGKILL);
  }
}

void end_program_politely(program& started) { signal_all(started, SIGTERM); }

void end_program_by_force(program& started) { signal_all(started, SIGKILL); }
