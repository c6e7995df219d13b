// Stands in for mysqldump in the Windows tests. Writes each argument it got,
// ended by a NUL byte, as its dump (an option file named first as
// "--defaults-extra-file:" and what the file holds, its path appended to the
// file FAKE_DUMP_OPTION_PATHS where that is set); then, as the test asks
// through the environment, writes "inherited" if the handle FAKE_DUMP_HANDLE is open in it
// on a file whose name holds "inherit-probe" (a number alone could name
// another of its own handles),
// sleeps FAKE_DUMP_SLEEP seconds and exits with FAKE_DUMP_EXIT (decimal, or
// hexadecimal after 0x).
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <thread>

namespace {

constexpr char kOptionFile[] = "--defaults-extra-file=";

// What the option file at `path` holds, as the client tools read it; its path
// noted for the test.
void write_option_file(const char* path) {
  std::fputs("--defaults-extra-file:", stdout);
  if (std::FILE* file = std::fopen(path, "rb")) {
    for (int c; (c = std::fgetc(file)) != EOF;) std::fputc(c, stdout);
    std::fclose(file);
  }
  if (const char* noted = std::getenv("FAKE_DUMP_OPTION_PATHS"))
    if (std::FILE* paths = std::fopen(noted, "ab")) {
      std::fprintf(paths, "%s\n", path);
      std::fclose(paths);
    }
}

}  // namespace

int main(int argc, char** argv) {
  // The bytes as they are: the option file's line ends too.
  _setmode(_fileno(stdout), _O_BINARY);
  for (int i = 1; i < argc; ++i) {
    if (i == 1 && std::strncmp(argv[i], kOptionFile, sizeof kOptionFile - 1) == 0)
      write_option_file(argv[i] + sizeof kOptionFile - 1);
    else
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
