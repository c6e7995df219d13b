// A temporary file: claimed, put in place or discarded.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/posix_common.h"

namespace {

bool same_file(int fd, const std::string& path) {
  struct stat opened, named;
  return fstat(fd, &opened) == 0 && lstat(path.c_str(), &named) == 0 &&
         opened.st_dev == named.st_dev && opened.st_ino == named.st_ino;
}

// The new file is in place once renamed; flushing the directory entry only
// guards it against a power cut, and some file systems refuse fsync on
// directories.
void flush_directory_of(const std::string& path) {
  std::string directory = directory_part(path);
  scoped_handle dir(
      open(directory.empty() ? "." : directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.valid()) fsync(static_cast<int>(dir.get()));
}

}  // namespace

bool create_temp_file(const std::string& path, temp_file* file, os_error* error) {
  scoped_handle created(
      open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, S_IRUSR | S_IWUSR));
  const int fd = static_cast<int>(created.get());
  if (!created.valid())
    return failed(error, path, errno, errno == EEXIST ? error_kind::exists : error_kind::other);
  bool locked = flock(fd, LOCK_EX | LOCK_NB) == 0;
  if (locked && same_file(fd, path)) {
    fchmod(fd, S_IRUSR | S_IWUSR);  // exact bits, whatever the umask says
    file->path = path;
    file->handle = std::move(created);
    return true;
  }
  // Before the lock, another program took it for a leftover: it removed it, or
  // holds it now.
  return locked ? failed(error, path, EEXIST, error_kind::exists)
                : failed(error, path, EWOULDBLOCK, error_kind::claimed);
}

bool remove_leftover(const std::string& path, os_error* error) {
  struct stat named;
  if (lstat(path.c_str(), &named) != 0) return errno == ENOENT || failed(error, path, errno);
  // Only what this program's account could have left: not another account's
  // file (a link there could name any file root may remove), nor a link,
  // a directory or a device.
  if (!S_ISREG(named.st_mode)) return failed(error, path, EEXIST);
  if (named.st_uid != geteuid()) return failed(error, path, EPERM);
  scoped_handle leftover(open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  const int fd = static_cast<int>(leftover.get());
  if (!leftover.valid()) return errno == ENOENT || failed(error, path, errno);
  struct stat opened;
  // Replaced since it was looked at: the claim tries again.
  if (fstat(fd, &opened) != 0 || opened.st_dev != named.st_dev || opened.st_ino != named.st_ino)
    return true;
  if (flock(fd, LOCK_EX | LOCK_NB) != 0)
    return failed(error, path, EWOULDBLOCK, error_kind::claimed);
  // Once locked, it may have been replaced by another program's claim.
  if (!same_file(fd, path) || unlink(path.c_str()) == 0 || errno == ENOENT) return true;
  return failed(error, path, errno);
}

int64_t claimed_size(const temp_file& file) {
  struct stat st;
  return fstat(static_cast<int>(file.handle.get()), &st) == 0 ? st.st_size : 0;
}

bool take_over_permissions(temp_file* file, const std::string& target, os_error* error) {
  const int fd = static_cast<int>(file->handle.get());
  struct stat old;
  if (lstat(target.c_str(), &old) != 0 || !S_ISREG(old.st_mode)) return true;
  // Another account's file would hand the dump to that account, or to everyone.
  if (!trusted_owner(old)) return failed(error, target, EPERM, error_kind::foreign);
  // Owner and group first: changing them may clear permission bits.
  if (fchown(fd, old.st_uid, old.st_gid) != 0 && fchown(fd, -1, old.st_gid) != 0) {
    // Not allowed either: the new file stays this account's, with the old bits.
  }
  return fchmod(fd, old.st_mode & 0777) == 0 || failed(error, file->path, errno);
}

bool put_in_place(temp_file* file, const std::string& target, os_error* error) {
  const int fd = static_cast<int>(file->handle.get());
  if (fsync(fd) != 0) return failed(error, file->path, errno);
  // Someone who may write to the folder can have put something else (a link
  // to another file) at the temporary file's name.
  if (!same_file(fd, file->path)) return failed(error, file->path, ESTALE);
  if (std::rename(file->path.c_str(), target.c_str()) != 0) return failed(error, target, errno);
  file->handle.reset();
  flush_directory_of(target);
  return true;
}

void discard_temp_file(temp_file* file) {
  // Only what is still this claim: never another's file put at its name.
  if (same_file(static_cast<int>(file->handle.get()), file->path)) unlink(file->path.c_str());
  file->handle.reset();
}

bool create_handed_file(const std::string& content, handed_file* file, os_error* error) {
  // Not closed on exec: the program started next inherits it, and opens it by
  // its name under /dev/fd, which gives a reader of its own from the start.
  scoped_handle memory(memfd_create("autodump-handed", 0));
  const int fd = static_cast<int>(memory.get());
  if (!memory.valid()) return failed(error, "", errno);
  // The client tools ignore an option file that others may write.
  if (fchmod(fd, S_IRUSR | S_IWUSR) != 0) return failed(error, "", errno);
  for (std::size_t written = 0; written < content.size();) {
    ssize_t step = write(fd, content.data() + written, content.size() - written);
    if (step < 0 && errno != EINTR) return failed(error, "", errno);
    if (step > 0) written += static_cast<std::size_t>(step);
  }
  file->name = "/dev/fd/" + std::to_string(fd);
  file->handle = std::move(memory);
  return true;
}

void remove_handed_file(handed_file* file) { file->handle.reset(); }

bool create_scratch_file(scoped_handle* file, os_error* error) {
  file->reset(memfd_create("autodump-scratch", MFD_CLOEXEC));
  return file->valid() || failed(error, "", errno);
}

std::string read_scratch_file(const scoped_handle& file, std::size_t most) {
  std::string text(most, '\0');
  ssize_t length = pread(static_cast<int>(file.get()), text.data(), most, 0);
  text.resize(length > 0 ? static_cast<std::size_t>(length) : 0);
  return text;
}
