// Stands in for mysqldump in the Windows tests. Writes each argument it got,
// ended by a NUL byte, as its dump; then, as the test asks through the
// environment, writes "inherited" if the handle FAKE_DUMP_HANDLE is open in it,
// sleeps FAKE_DUMP_SLEEP seconds and exits with FAKE_DUMP_EXIT.
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    std::fputs(argv[i], stdout);
    std::fputc('\0', stdout);
  }
  DWORD flags;
  if (const char* handle = std::getenv("FAKE_DUMP_HANDLE"))
    if (GetHandleInformation(reinterpret_cast<HANDLE>(std::strtoull(handle, nullptr, 10)), &flags))
      std::fputs("inherited", stdout);
  std::fflush(stdout);
  if (const char* seconds = std::getenv("FAKE_DUMP_SLEEP"))
    std::this_thread::sleep_for(std::chrono::seconds(std::atoi(seconds)));
  const char* status = std::getenv("FAKE_DUMP_EXIT");
  return status ? std::atoi(status) : 0;
}
