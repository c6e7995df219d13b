#include "platform/platform.h"

#include <fcntl.h>
#include <langinfo.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace {

// The signals with which an operator or the system ends a console program.
constexpr int kEndingSignals[] = {SIGINT, SIGQUIT, SIGTERM, SIGHUP};

// While held, the ending signals are blocked rather than caught, and taken
// with sigwaitinfo: no handler, so no race between a check and a wait.
sigset_t g_held_set;
sigset_t g_saved_mask;
struct sigaction g_saved_sigchld;
int g_held_signal = 0;

void note_held(int signal) {
  if (g_held_signal == 0) g_held_signal = signal;
}

// The held signal that is pending, taken without waiting; 0 if none.
int take_pending_signal() {
  timespec no_wait{0, 0};
  int signal = sigtimedwait(&g_held_set, nullptr, &no_wait);
  return signal > 0 ? signal : 0;
}

std::string describe_error(const std::string& path, int error) {
  return path + ": " + std::strerror(error);
}

std::string directory_of(const std::string& path) {
  std::string::size_type slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

int exit_status_of(int wait_status) {
  if (WIFEXITED(wait_status)) return WEXITSTATUS(wait_status);
  if (WIFSIGNALED(wait_status)) return 128 + WTERMSIG(wait_status);
  return 255;
}

pid_t spawn_shell(const std::string& command) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  // The scheduler never reads the console again; neither may the command.
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  // The tool gets the signal mask the program had, not the one holding signals.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);
  posix_spawnattr_setsigmask(&attributes, &g_saved_mask);
  const char* argv[] = {"sh", "-c", command.c_str(), nullptr};
  pid_t pid = -1;
  if (posix_spawn(&pid, "/bin/sh", &actions, &attributes, const_cast<char**>(argv), environ) != 0)
    pid = -1;
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

int wait_for(pid_t pid) {
  sigset_t wake = g_held_set;
  sigaddset(&wake, SIGCHLD);
  int passed_on = 0;
  for (;;) {
    int status = 0;
    pid_t ended = waitpid(pid, &status, WNOHANG);
    if (ended == pid) return exit_status_of(status);
    if (ended < 0 && errno != EINTR) return 255;
    int signal = sigwaitinfo(&wake, nullptr);
    if (signal <= 0 || signal == SIGCHLD) continue;
    note_held(signal);
    // A second signal says the operator will not wait for the tool to tidy up.
    kill(pid, ++passed_on == 1 ? signal : SIGKILL);
  }
}

bool same_file(int fd, const std::string& path) {
  struct stat opened, named;
  return fstat(fd, &opened) == 0 && lstat(path.c_str(), &named) == 0 &&
         opened.st_dev == named.st_dev && opened.st_ino == named.st_ino;
}

}  // namespace

bool stdout_is_terminal() {
  const char* term = std::getenv("TERM");
  return isatty(STDOUT_FILENO) && !(term && std::strcmp(term, "dumb") == 0);
}

void clear_terminal(std::ostream& out) {
  out << "\x1b[H\x1b[2J";
  out.flush();
}

std::string console_codeset() {
  std::string codeset;
  if (std::setlocale(LC_CTYPE, "")) codeset = nl_langinfo(CODESET);
  std::setlocale(LC_CTYPE, "C");
  return codeset;
}

void keep_console_from_pausing() {}

bool directory_accepts_files(const std::string& directory) {
  std::string name = directory.empty() ? "." : directory;
  struct stat st;
  return name.find('\0') == std::string::npos && stat(name.c_str(), &st) == 0 &&
         S_ISDIR(st.st_mode) && access(name.c_str(), W_OK | X_OK) == 0;
}

bool ends_with_separator(const std::string& path) { return !path.empty() && path.back() == '/'; }

bool dump_tool_found() {
  // The shell's own search: an empty entry is the current directory, and no
  // PATH at all means the shell's default one.
  const char* path = std::getenv("PATH");
  std::string directories = path ? path : "/usr/local/bin:/usr/bin:/bin";
  std::string::size_type start = 0;
  for (;;) {
    std::string::size_type end = directories.find(':', start);
    std::string directory = directories.substr(start, end - start);
    std::string tool = (directory.empty() ? "." : directory) + "/mysqldump";
    struct stat st;
    if (stat(tool.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(tool.c_str(), X_OK) == 0)
      return true;
    if (end == std::string::npos) return false;
    start = end + 1;
  }
}

void sleep_milliseconds(int64_t milliseconds) {
  timespec left{static_cast<time_t>(milliseconds / 1000), (milliseconds % 1000) * 1000000L};
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

int64_t monotonic_milliseconds() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return int64_t{now.tv_sec} * 1000 + now.tv_nsec / 1000000;
}

void hold_ending_signals() {
  g_held_signal = 0;
  sigemptyset(&g_held_set);
  for (int signal : kEndingSignals) {
    struct sigaction current;
    sigaction(signal, nullptr, &current);
    // Blocking an ignored signal would let it be taken as held (nohup).
    if (current.sa_handler != SIG_IGN) sigaddset(&g_held_set, signal);
  }
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

claim_status create_temp_file(const std::string& path, temp_file* file, std::string* error) {
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, S_IRUSR | S_IWUSR);
  if (fd < 0) {
    if (errno == EEXIST) return claim_status::in_the_way;
    *error = describe_error(path, errno);
    return claim_status::failed;
  }
  bool locked = flock(fd, LOCK_EX | LOCK_NB) == 0;
  if (locked && same_file(fd, path)) {
    fchmod(fd, S_IRUSR | S_IWUSR);  // exact bits, whatever the umask says
    *file = {path, fd};
    return claim_status::claimed;
  }
  // Before the lock, another program took it for a leftover: it removed it, or
  // holds it now.
  close(fd);
  return locked ? claim_status::in_the_way : claim_status::busy;
}

leftover_status remove_leftover(const std::string& path, std::string* error) {
  int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0 && errno == ENOENT) return leftover_status::removed;
  if (fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) != 0) {
    close(fd);
    return leftover_status::busy;
  }
  // A symbolic link (ELOOP) cannot be locked, but it can still be removed.
  if (fd < 0 && errno != ELOOP) {
    *error = describe_error(path, errno);
    return leftover_status::failed;
  }
  // Once locked, it may have been replaced by another program's claim.
  bool still_there = fd < 0 || same_file(fd, path);
  int removed = still_there ? unlink(path.c_str()) : 0;
  int unlink_error = errno;
  if (fd >= 0) close(fd);
  if (removed == 0 || unlink_error == ENOENT) return leftover_status::removed;
  *error = describe_error(path, unlink_error);
  return leftover_status::failed;
}

int run_dump_tool(const dump_command& command, const temp_file&) {
  if (int signal = take_pending_signal()) {
    note_held(signal);
    return 128 + signal;
  }
  pid_t pid = spawn_shell(command.shell_line);
  // 127 is what the shell itself reports for a command it cannot run.
  return pid < 0 ? 127 : wait_for(pid);
}

std::string put_in_place(temp_file* file, const std::string& dump_file) {
  int fd = static_cast<int>(file->handle);
  struct stat old;
  if (stat(dump_file.c_str(), &old) == 0) {
    // Owner and group first: changing them may clear permission bits.
    if (fchown(fd, old.st_uid, old.st_gid) != 0 && fchown(fd, -1, old.st_gid) != 0) {
      // Not allowed either: the new dump stays this account's, with the old bits.
    }
    fchmod(fd, old.st_mode & 0777);
  }
  if (fsync(fd) != 0) return describe_error(file->path, errno);
  if (std::rename(file->path.c_str(), dump_file.c_str()) != 0) return describe_error(dump_file, errno);
  close(fd);
  file->handle = -1;
  // The new file is in place now; flushing the directory entry only guards it
  // against a power cut, and some file systems refuse fsync on directories.
  int dir = open(directory_of(dump_file).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    fsync(dir);
    close(dir);
  }
  return "";
}

void discard_temp_file(temp_file* file) {
  unlink(file->path.c_str());
  close(static_cast<int>(file->handle));
  file->handle = -1;
}

std::string nul_byte_error() { return std::strerror(EINVAL); }
