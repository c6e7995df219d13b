// Stands in for mysqldump in the Windows backup test. Writes each argument it
// got, ended by a NUL byte, as its dump; then, as the test asks through the
// environment, sleeps FAKE_DUMP_SLEEP seconds and exits with FAKE_DUMP_EXIT.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    std::fputs(argv[i], stdout);
    std::fputc('\0', stdout);
  }
  std::fflush(stdout);
  if (const char* seconds = std::getenv("FAKE_DUMP_SLEEP"))
    std::this_thread::sleep_for(std::chrono::seconds(std::atoi(seconds)));
  const char* status = std::getenv("FAKE_DUMP_EXIT");
  return status ? std::atoi(status) : 0;
}
