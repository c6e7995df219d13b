// The temporary file of a dump: claimed, put in place or discarded.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/platform.h"

namespace {

std::string describe_error(const std::string& path, int error) {
  return path + ": " + std::strerror(error);
}

bool same_file(int fd, const std::string& path) {
  struct stat opened, named;
  return fstat(fd, &opened) == 0 && lstat(path.c_str(), &named) == 0 &&
         opened.st_dev == named.st_dev && opened.st_ino == named.st_ino;
}

// Gives the new dump the old one's owner, group and permission bits.
void take_over_permissions(int fd, const std::string& dump_file) {
  struct stat old;
  if (stat(dump_file.c_str(), &old) != 0) return;
  // Owner and group first: changing them may clear permission bits.
  if (fchown(fd, old.st_uid, old.st_gid) != 0 && fchown(fd, -1, old.st_gid) != 0) {
    // Not allowed either: the new dump stays this account's, with the old bits.
  }
  fchmod(fd, old.st_mode & 0777);
}

// The new file is in place once renamed; flushing the directory entry only
// guards it against a power cut, and some file systems refuse fsync on
// directories.
void flush_directory_of(const std::string& path) {
  std::string directory = directory_part(path);
  int dir = open(directory.empty() ? "." : directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    fsync(dir);
    close(dir);
  }
}

}  // namespace

claim_status create_temp_file(const std::string& path, temp_file* file, std::string* error) {
  int fd =
      open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, S_IRUSR | S_IWUSR);
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

std::string put_in_place(temp_file* file, const std::string& dump_file) {
  int fd = static_cast<int>(file->handle);
  take_over_permissions(fd, dump_file);
  if (fsync(fd) != 0) return describe_error(file->path, errno);
  // Someone who may write to the folder can have put something else (a link
  // to another file) at the temporary file's name.
  if (!same_file(fd, file->path)) return describe_error(file->path, ESTALE);
  if (std::rename(file->path.c_str(), dump_file.c_str()) != 0)
    return describe_error(dump_file, errno);
  close(fd);
  file->handle = -1;
  flush_directory_of(dump_file);
  return "";
}

bool held_by_another_program(const std::string&) { return false; }

int64_t claimed_size(const temp_file& file) {
  struct stat st;
  return fstat(static_cast<int>(file.handle), &st) == 0 ? st.st_size : 0;
}

void discard_temp_file(temp_file* file) {
  int fd = static_cast<int>(file->handle);
  // Only what is still this claim: never another's file put at its name.
  if (same_file(fd, file->path)) unlink(file->path.c_str());
  close(fd);
  file->handle = -1;
}

std::string text_error(const std::string& text) {
  return text.find('\0') == std::string::npos ? "" : std::strerror(EINVAL);
}
