// The terminal: whether standard output is one, clearing it, and its encoding.
#include <langinfo.h>
#include <sys/stat.h>
#include <unistd.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"

void connect_console_streams() {}

bool stdout_can_be_cleared() {
  const char* term = std::getenv("TERM");
  return isatty(STDOUT_FILENO) && !(term && std::strcmp(term, "dumb") == 0);
}

bool stdout_is_screen() { return isatty(STDOUT_FILENO); }

bool stdout_is_journal() {
  // "<device>:<inode>" of the stream systemd connected, which a program it
  // started may have passed on redirected elsewhere.
  const char* stream = std::getenv("JOURNAL_STREAM");
  struct stat out;
  unsigned long long device = 0, inode = 0;
  return stream && std::sscanf(stream, "%llu:%llu", &device, &inode) == 2 &&
         fstat(STDOUT_FILENO, &out) == 0 && out.st_dev == device && out.st_ino == inode;
}

void clear_terminal(std::ostream& out) {
  out << "\x1b[H\x1b[2J";
  out.flush();
}

std::string console_codeset() {
  std::string codeset;
  if (std::setlocale(LC_CTYPE, "")) codeset = nl_langinfo(CODESET);
  std::setlocale(LC_CTYPE, "C");
  return codeset;
}

void keep_console_from_pausing() {}
