// Descriptors, and what the program looks up in the file system.
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/posix_common.h"

namespace {

// A chain of symbolic links longer than the kernel follows is a circle.
constexpr int kMostLinks = 40;

std::string read_link(const std::string& path) {
  std::string target(PATH_MAX, '\0');
  ssize_t length = readlink(path.c_str(), target.data(), target.size());
  target.resize(length > 0 ? static_cast<std::size_t>(length) : 0);
  return target;
}

}  // namespace

bool scoped_handle::valid() const { return value_ >= 0; }

void scoped_handle::reset(std::intptr_t value) {
  if (valid()) close(static_cast<int>(value_));
  value_ = value;
}

void open_standard_streams() {
  // open() takes the lowest free descriptor: the first one closed.
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd)
    if (fcntl(fd, F_GETFD) < 0 && errno == EBADF && open("/dev/null", O_RDWR) < 0) _exit(127);
}

bool directory_accepts_files(const std::string& directory, os_error* error) {
  std::string name = directory.empty() ? "." : directory;
  struct stat st;
  if (name.find('\0') != std::string::npos) return failed(error, directory, EINVAL);
  if (stat(name.c_str(), &st) != 0) return failed(error, directory, errno);
  if (!S_ISDIR(st.st_mode)) return failed(error, directory, ENOTDIR);
  return access(name.c_str(), W_OK | X_OK) == 0 || failed(error, directory, errno);
}

bool modified_ago(const std::string& path, int64_t* age_ms) {
  std::string target;
  struct stat st;
  timespec now;
  if (!resolve_links(path, &target, nullptr) || lstat(target.c_str(), &st) != 0 ||
      !S_ISREG(st.st_mode) || clock_gettime(CLOCK_REALTIME, &now) != 0)
    return false;
  *age_ms = (int64_t{now.tv_sec} - st.st_mtim.tv_sec) * 1000 +
            (now.tv_nsec - st.st_mtim.tv_nsec) / 1'000'000;
  return true;
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

bool resolve_links(const std::string& path, std::string* target, os_error* error) {
  *target = path;
  if (path.find('\0') != std::string::npos) return true;
  std::string current = path;
  for (int links = 0; links < kMostLinks; ++links) {
    struct stat st;
    if (lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
      *target = current;
      return true;
    }
    // As the kernel refuses a link in a shared folder (fs.protected_symlinks):
    // another account could point it at any file this program may write.
    if (!trusted_owner(st)) return failed(error, current, EACCES);
    std::string next = read_link(current);
    if (next.empty()) {
      *target = current;
      return true;
    }
    current = next[0] == '/' ? next : directory_part(current) + next;
  }
  return true;
}

bool open_device(const std::string& path, scoped_handle* device, os_error* error) {
  struct stat named;
  if (lstat(path.c_str(), &named) != 0 || S_ISREG(named.st_mode) || S_ISDIR(named.st_mode) ||
      S_ISLNK(named.st_mode))
    return true;
  if (S_ISSOCK(named.st_mode)) return failed(error, path, ENXIO);
  if (!S_ISFIFO(named.st_mode) && !S_ISCHR(named.st_mode)) return failed(error, path, ENOTSUP);
  if (!trusted_owner(named)) return failed(error, path, EACCES);
  // Not blocking in the open: a pipe nobody reads would keep the program
  // waiting for ever. Its reader gets the dump from the first byte.
  scoped_handle opened(
      open(path.c_str(), O_WRONLY | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  if (!opened.valid()) return failed(error, path, errno);
  const int fd = static_cast<int>(opened.get());
  struct stat st;
  // Something else put at the name meanwhile is not written into.
  if (fstat(fd, &st) != 0 || st.st_dev != named.st_dev || st.st_ino != named.st_ino)
    return failed(error, path, ESTALE);
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  *device = std::move(opened);
  return true;
}

bool name_is_reserved(const std::string&, std::string*) { return false; }

bool name_has_forbidden_characters(const std::string&, std::string*) { return false; }

bool text_is_usable(const std::string& text, os_error* error) {
  return text.find('\0') == std::string::npos || failed(error, "", EINVAL);
}
