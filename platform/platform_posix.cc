// The console, the clock, and what the program looks up in the file system.
#include <langinfo.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "platform/platform.h"

extern char** environ;

namespace {

// The most bytes one argument may hold, its NUL included (MAX_ARG_STRLEN).
constexpr std::size_t kLongestArgument = 32 * 4096;
// A chain of symbolic links longer than the kernel follows is a circle.
constexpr int kMostLinks = 40;

std::string read_link(const std::string& path) {
  std::string target(PATH_MAX, '\0');
  ssize_t length = readlink(path.c_str(), target.data(), target.size());
  target.resize(length > 0 ? static_cast<std::size_t>(length) : 0);
  return target;
}

}  // namespace

void connect_console_streams() {}

bool stdout_is_terminal() {
  const char* term = std::getenv("TERM");
  return isatty(STDOUT_FILENO) && !(term && std::strcmp(term, "dumb") == 0);
}

bool stdout_is_console() { return isatty(STDOUT_FILENO); }

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

void sleep_milliseconds(int64_t milliseconds) {
  timespec left{static_cast<time_t>(milliseconds / 1000), (milliseconds % 1000) * 1000000L};
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

int64_t monotonic_milliseconds() {
  timespec now;
  clock_gettime(CLOCK_BOOTTIME, &now);
  return int64_t{now.tv_sec} * 1000 + now.tv_nsec / 1000000;
}

bool directory_accepts_files(const std::string& directory) {
  std::string name = directory.empty() ? "." : directory;
  return name.find('\0') == std::string::npos && is_directory(name) &&
         access(name.c_str(), W_OK | X_OK) == 0;
}

bool is_directory(const std::string& path) {
  struct stat st;
  return path.find('\0') == std::string::npos && stat(path.c_str(), &st) == 0 &&
         S_ISDIR(st.st_mode);
}

std::string directory_part(const std::string& path) {
  std::string::size_type slash = path.rfind('/');
  return slash == std::string::npos ? "" : path.substr(0, slash + 1);
}

std::string link_target(const std::string& path) {
  if (path.find('\0') != std::string::npos) return path;
  std::string current = path;
  for (int links = 0; links < kMostLinks; ++links) {
    struct stat st;
    if (lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return current;
    std::string target = read_link(current);
    if (target.empty()) return current;
    current = target[0] == '/' ? target : directory_part(current) + target;
  }
  return path;
}

bool dump_tool_found() {
  // The search of execvp: an empty entry is the current directory, and no
  // PATH at all means the C library's default one.
  const char* path = std::getenv("PATH");
  std::string directories = path ? path : "/bin:/usr/bin";
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
