// Stands in for mysqldump in the Windows tests. Writes each argument it got,
// ended by a NUL byte, as its dump; then, as the test asks through the
// environment, writes "inherited" if the handle FAKE_DUMP_HANDLE is open in it
// on a file whose name holds "inherit-probe" (a number alone could name
// another of its own handles),
// sleeps FAKE_DUMP_SLEEP seconds and exits with FAKE_DUMP_EXIT (decimal, or
// hexadecimal after 0x).
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <thread>

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    std::fputs(argv[i], stdout);
    std::fputc('\0', stdout);
  }
  wchar_t name[MAX_PATH];
  if (const char* handle = std::getenv("FAKE_DUMP_HANDLE"))
    if (GetFinalPathNameByHandleW(reinterpret_cast<HANDLE>(std::strtoull(handle, nullptr, 10)),
                                  name, MAX_PATH, 0) > 0 &&
        std::wcsstr(name, L"inherit-probe"))
      std::fputs("inherited", stdout);
  std::fflush(stdout);
  if (const char* seconds = std::getenv("FAKE_DUMP_SLEEP"))
    std::this_thread::sleep_for(std::chrono::seconds(std::atoi(seconds)));
  // Any 32-bit status, as "3" or as an NTSTATUS such as "0xC0000005".
  const char* status = std::getenv("FAKE_DUMP_EXIT");
  ExitProcess(status ? static_cast<UINT>(std::strtoul(status, nullptr, 0)) : 0);
}
