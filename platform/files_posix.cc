// Descriptors, and what the program looks up in the file system.
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/platform.h"

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

bool text_is_usable(const std::string& text, os_error* error) {
  if (text.find('\0') == std::string::npos) return true;
  if (error) *error = {error_kind::other, "", std::strerror(EINVAL)};
  return false;
}
