// Sleeping, and the clock that counts while the machine sleeps.
#include <cerrno>
#include <ctime>

#include "platform/platform.h"

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
