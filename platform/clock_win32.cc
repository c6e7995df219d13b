// Sleeping, and the clock that counts while the machine sleeps.
#include <windows.h>

#include "platform/platform.h"

void sleep_milliseconds(int64_t milliseconds) { Sleep(static_cast<DWORD>(milliseconds)); }

int64_t monotonic_milliseconds() {
  LARGE_INTEGER count, frequency;
  QueryPerformanceCounter(&count);
  QueryPerformanceFrequency(&frequency);
  return count.QuadPart / frequency.QuadPart * 1000 +
         count.QuadPart % frequency.QuadPart * 1000 / frequency.QuadPart;
}
