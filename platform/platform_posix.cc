#include "platform/platform.h"

#include <fcntl.h>
#include <langinfo.h>
#include <spawn.h>
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
constexpr int kEndingSignalCount = sizeof(kEndingSignals) / sizeof(kEndingSignals[0]);

volatile std::sig_atomic_t g_held_signal = 0;

void hold_signal(int signal) {
  if (g_held_signal == 0) g_held_signal = signal;
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
  const char* argv[] = {"sh", "-c", command.c_str(), nullptr};
  pid_t pid = -1;
  if (posix_spawn(&pid, "/bin/sh", &actions, nullptr, const_cast<char**>(argv), environ) != 0)
    pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

int wait_for(pid_t pid) {
  bool passed_on = false;
  int status = 0;
  for (;;) {
    if (g_held_signal != 0 && !passed_on) {
      kill(pid, g_held_signal);
      passed_on = true;
    }
    if (waitpid(pid, &status, 0) == pid) return exit_status_of(status);
    if (errno != EINTR) return 255;
  }
}

}  // namespace

bool stdout_is_terminal() {
  const char* term = std::getenv("TERM");
  return isatty(STDOUT_FILENO) && !(term && std::strcmp(term, "dumb") == 0);
}

std::string console_codeset() {
  std::string codeset;
  if (std::setlocale(LC_CTYPE, "")) codeset = nl_langinfo(CODESET);
  std::setlocale(LC_CTYPE, "C");
  return codeset;
}

void sleep_milliseconds(int milliseconds) {
  timespec left{milliseconds / 1000, (milliseconds % 1000) * 1000000L};
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

command_result run_command(const std::string& command) {
  // Like system(), but an interrupt is not ignored: it is held until the
  // command has ended, so that the caller can tidy up and then end.
  g_held_signal = 0;
  struct sigaction hold = {};
  hold.sa_handler = hold_signal;
  sigemptyset(&hold.sa_mask);
  struct sigaction saved[kEndingSignalCount];
  for (int i = 0; i < kEndingSignalCount; ++i) sigaction(kEndingSignals[i], &hold, &saved[i]);

  pid_t pid = spawn_shell(command);
  // 127 is what the shell itself reports for a command it cannot run.
  int exit_status = pid < 0 ? 127 : wait_for(pid);

  for (int i = 0; i < kEndingSignalCount; ++i) sigaction(kEndingSignals[i], &saved[i], nullptr);
  return {exit_status, g_held_signal};
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

void create_private_file(const std::string& path, const std::string& model) {
  mode_t mode = S_IRUSR | S_IWUSR;
  struct stat existing;
  if (stat(model.c_str(), &existing) == 0) mode = existing.st_mode & 07777;
  unlink(path.c_str());
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, S_IRUSR | S_IWUSR);
  if (fd < 0) return;
  fchmod(fd, mode);  // exact bits, whatever the umask says
  close(fd);
}

std::string replace_file(const std::string& from, const std::string& to) {
  int fd = open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return describe_error(from, errno);
  if (fsync(fd) != 0) {
    int error = errno;
    close(fd);
    return describe_error(from, error);
  }
  close(fd);
  if (std::rename(from.c_str(), to.c_str()) != 0) return describe_error(to, errno);
  // The new file is in place now; flushing the directory entry only guards it
  // against a power cut, and some file systems refuse fsync on directories.
  int dir = open(directory_of(to).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    fsync(dir);
    close(dir);
  }
  return "";
}

void remove_file(const std::string& path) { unlink(path.c_str()); }
