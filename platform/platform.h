// What autodump needs from the operating system, behind one header so that the
// rest of the program stays portable and its tests never touch the OS by accident.
#ifndef AUTODUMP_PLATFORM_PLATFORM_H_
#define AUTODUMP_PLATFORM_PLATFORM_H_

#include <string>

// True when standard output is a terminal that understands escape sequences.
bool stdout_is_terminal();

// The character set of the operator's locale (for example "UTF-8" or "GBK"),
// or "" when it cannot be told. Leaves the program in the classic C locale.
std::string console_codeset();

// Suspends the thread for the given time.
void sleep_milliseconds(int milliseconds);

struct command_result {
  // The command's exit status, or 128 + the signal number when a signal ended it.
  int exit_status;
  // An interrupt or termination signal that reached this process while the
  // command ran, 0 if none. It has been held back so that the caller can tidy
  // up before passing it on with end_by_signal().
  int held_signal;
};

// Runs `command` through the command processor (/bin/sh) with standard input
// from the null device, and waits until it has ended. A held signal is also
// passed to the command.
command_result run_command(const std::string& command);

// Ends the process as `signal` would have ended it.
[[noreturn]] void end_by_signal(int signal);

// Creates an empty file at `path`, replacing any file left there, readable and
// writable by the owner only, or with the permission bits of `model` when that
// file exists. Best effort: on failure nothing is created, and a later write to
// the path fails with the OS's own message.
void create_private_file(const std::string& path, const std::string& model);

// Flushes `from` to disk and renames it over `to` in one atomic step.
// Returns "" on success, otherwise the OS's description of what failed; `to`
// is then untouched.
std::string replace_file(const std::string& from, const std::string& to);

// Removes `path` if it exists.
void remove_file(const std::string& path);

#endif  // AUTODUMP_PLATFORM_PLATFORM_H_
