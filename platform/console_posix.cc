// The terminal: whether standard output is one, clearing it, and its encoding.
#include <langinfo.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"

void connect_console_streams() {}

namespace {

// What was read of standard input and not taken yet.
char g_input[4096];
std::size_t g_input_next = 0, g_input_end = 0;

}  // namespace

int peek_input_byte() {
  while (g_input_next == g_input_end) {
    ssize_t got = read(STDIN_FILENO, g_input, sizeof g_input);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return -1;
    g_input_next = 0;
    g_input_end = static_cast<std::size_t>(got);
  }
  return static_cast<unsigned char>(g_input[g_input_next]);
}

void take_input_byte() {
  if (g_input_next < g_input_end) ++g_input_next;
}

void write_output(std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t written = write(STDOUT_FILENO, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return;
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
}

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

void clear_terminal() { write_output("\x1b[H\x1b[2J"); }

namespace {

std::string codeset_here() {
  std::string codeset;
  if (std::setlocale(LC_CTYPE, "")) codeset = nl_langinfo(CODESET);
  std::setlocale(LC_CTYPE, "C");
  return codeset;
}

}  // namespace

std::string console_codeset() {
  // Asked in a child: the locale's files, once mapped, would stay resident
  // for the whole run (a tenth of the program's memory), though the program
  // only needs their answer. Here, where no child can be made.
  int answer[2];
  if (pipe(answer) != 0) return codeset_here();
  pid_t child = fork();
  if (child == 0) {
    std::string codeset = codeset_here();
    _exit(write(answer[1], codeset.data(), codeset.size()) == static_cast<ssize_t>(codeset.size())
              ? 0
              : 1);
  }
  close(answer[1]);
  std::string codeset;
  char buffer[64];
  for (ssize_t got; child > 0 && (got = read(answer[0], buffer, sizeof buffer)) != 0;) {
    if (got > 0) codeset.append(buffer, got);
    if (got < 0 && errno != EINTR) break;
  }
  close(answer[0]);
  int status = 0;
  if (child < 0 || waitpid(child, &status, 0) != child || status != 0) return codeset_here();
  return codeset;
}

void keep_console_from_pausing() {}
