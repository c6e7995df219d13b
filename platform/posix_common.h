// What the POSIX files of the platform share; included by them alone.
#ifndef AUTODUMP_PLATFORM_POSIX_COMMON_H_
#define AUTODUMP_PLATFORM_POSIX_COMMON_H_

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "platform/platform.h"

// Owned by this program's account or by root, who can change any file anyway.
inline bool trusted_owner(const struct stat& st) {
  return st.st_uid == geteuid() || st.st_uid == 0;
}

// Fills `error` (where given) with errno's words about `path`; returns false.
inline bool failed(os_error* error, const std::string& path, int code,
                   error_kind kind = error_kind::other) {
  if (error) *error = {kind, path, std::strerror(code)};
  return false;
}

#endif  // AUTODUMP_PLATFORM_POSIX_COMMON_H_
