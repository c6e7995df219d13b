// Holds a file open without sharing its deletion, as an antivirus scanner or a
// backup agent does, so that it cannot be replaced meanwhile (or, with
// FILE_HOLDER_SHARES_DELETE set, sharing it, as a reader that lets others
// replace the file does):
//   file_holder FILE                  for ever
//   file_holder FILE LOG TEXT         until LOG holds TEXT
// Prints "holding" once it holds the file. Runs on the real clock, polling
// each millisecond, however fast the clock of the program it stands against.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

namespace {

bool holds(const char* log, const std::string& text) {
  std::ifstream in(log, std::ios::binary);
  std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return content.find(text) != std::string::npos;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 && argc != 4) return 2;
  DWORD sharing = FILE_SHARE_READ | FILE_SHARE_WRITE |
                  (std::getenv("FILE_HOLDER_SHARES_DELETE") ? FILE_SHARE_DELETE : 0);
  HANDLE file = CreateFileA(argv[1], GENERIC_READ, sharing, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 1;
  std::puts("holding");
  std::fflush(stdout);
  while (argc == 2 || !holds(argv[2], argv[3])) Sleep(1);
  CloseHandle(file);
  return 0;
}
