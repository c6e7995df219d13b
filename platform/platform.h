// What autodump needs from the operating system, behind one header so that the
// rest of the program stays portable and its tests never touch the OS by accident.
#ifndef AUTODUMP_PLATFORM_PLATFORM_H_
#define AUTODUMP_PLATFORM_PLATFORM_H_

#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

// Where standard input or output is a Windows console, std::cin and std::cout
// read and write it through the console's wide calls, in the program's
// encoding (console_codeset()); elsewhere (POSIX, files, pipes) they stay as
// they are, bytes in that encoding.
void connect_console_streams();

// True when standard output is a terminal that clear_terminal() can clear.
bool stdout_is_terminal();

// True when standard output is a terminal (on Windows a console): what is
// printed is seen there, and kept in no file, pipe or journal.
bool stdout_is_console();

// Clears the terminal that standard output shows. `out` writes to standard
// output; it is flushed first, and gets the escape sequences where those are
// the means.
void clear_terminal(std::ostream& out);

// The character set the console shows text in (for example "UTF-8" or
// "GBK"), or "" when it cannot be told: on POSIX the operator's locale's, on
// Windows UTF-8 for a console on code page 65001 and GBK for every other.
// Leaves the program in the classic C locale.
std::string console_codeset();

// Keeps the console from pausing the program while the automatic backup runs:
// a click in a Windows console window would otherwise start a selection
// (QuickEdit) that suspends every line printed, and with it the countdown.
void keep_console_from_pausing();

// Suspends the thread for the given time.
void sleep_milliseconds(int64_t milliseconds);

// Milliseconds from an arbitrary start, on a clock that only moves forward and
// goes on while the machine sleeps or the program is stopped, so that a
// schedule kept on it keeps its hours.
int64_t monotonic_milliseconds();

// Whether `directory` ("" for the current one) is a directory in which this
// program may create files.
bool directory_accepts_files(const std::string& directory);

// Whether `path` names a directory (following symbolic links).
bool is_directory(const std::string& path);

// `path` up to and including its last directory separator ("/", and on
// Windows "\" too); "" when it has none.
std::string directory_part(const std::string& path);

// Where a write to `path` lands: the file that a symbolic link at `path` points
// to, through any chain of links, whether that file exists or not (a relative
// link is taken from the link's folder; on Windows, only a link to a file that
// exists is followed); `path` itself when it is no link, or when the links go
// round in a circle.
std::string link_target(const std::string& path);

// Whether a backup would find the dump tool (on PATH; on Windows also in this
// program's folder and the current folder).
bool dump_tool_found();

// Whether the system can start a program with these arguments, which are
// limited in length: on Linux 128 KiB each and about 2 MiB together with the
// environment, on Windows 32,767 characters for the whole command line.
bool arguments_fit(const std::vector<std::string>& arguments);

// --- Ending signals -----------------------------------------------------------
//
// From hold_ending_signals() until release_ending_signals(), the signals with
// which an operator, another program or the system can end a console program
// do not end the process (on POSIX every signal whose default action ends it,
// except those of the program's own faults; on Windows Ctrl-C, Ctrl-Break and
// the closing of the console): the first one is held, and passed on to a dump
// tool that is running meanwhile. A signal that the process ignored from its
// start stays ignored, and is not passed on. On Windows a second event during
// a dump ends the process at once, with the tool; the temporary file it leaves
// is cleared by the next backup. Logging off (which only services hear, for
// any user) is no ending event.

void hold_ending_signals();
// Ends the holding. Returns the first signal held meanwhile, 0 if none; the
// caller tidies up and then passes it on with end_by_signal().
int release_ending_signals();

// Ends the process as `signal` would have ended it.
[[noreturn]] void end_by_signal(int signal);

// --- The dump -----------------------------------------------------------------

// The dump tool's name, then its arguments. The name is looked for as a shell
// looks for a command (on Windows as Windows looks for a program).
struct dump_command {
  std::vector<std::string> arguments;
};

// The file a dump is written to until it is complete: this program's alone
// while it is claimed.
struct temp_file {
  std::string path;
  std::intptr_t handle = -1;
};

enum class claim_status { claimed, in_the_way, busy, failed };

// Creates `path` afresh, owned by this program's account, readable and
// writable by it alone, and locks it until it is put in place or discarded.
// in_the_way: something is already at `path`, or took its place before the
// lock. busy: another program holds `path`. failed: `error` says why, in the
// OS's words. Unless claimed, nothing is left created.
claim_status create_temp_file(const std::string& path, temp_file* file, std::string* error);

enum class leftover_status { removed, busy, failed };

// Removes what is at `path` unless another program holds it. failed: `error`
// says why, in the OS's words (a file this account may not remove).
leftover_status remove_leftover(const std::string& path, std::string* error);

// What run_dump_tool() returns for a tool still running at its deadline.
constexpr int dump_tool_overran = -1;

// Starts the dump tool directly, without a shell, with standard input from the
// null device and standard output into `output` (the null device when its
// handle is -1), and waits until it has ended, calling `each_second` (where
// given) once a second meanwhile.
// Returns its exit status, 128 + the signal number when a signal ended it, or
// 127 when it could not be started. A tool still running at `deadline_ms` (on
// the clock of monotonic_milliseconds()) is ended (on POSIX asked with SIGTERM,
// then killed 10 s later) and gives dump_tool_overran. A signal held meanwhile
// is passed on to the tool, or ends it (a second one ends it at once); one held
// before it started keeps it from starting. The tool never outlives this
// program, however this program ends. Needs the ending signals held.
int run_dump_tool(const dump_command& command, const temp_file& output, int64_t deadline_ms,
                  const std::function<void()>& each_second);

// How many bytes a claimed file holds now.
int64_t claimed_size(const temp_file& file);

// Flushes `file` to disk, gives it the permission bits of `dump_file` (without
// set-ID and sticky bits) and, where allowed, its owner and group, then renames
// it over `dump_file` in one step and releases it; a new dump stays readable by
// its owner alone. Nothing is renamed unless `file`'s path still names the file
// claimed. Returns "" on success, otherwise the OS's description of what
// failed: `dump_file` is then untouched and `file` still claimed.
std::string put_in_place(temp_file* file, const std::string& dump_file);

// Whether another program holds `path` open so that it cannot be replaced for
// now (on Windows, open without sharing its deletion: an antivirus scanner, a
// backup agent); never on POSIX, where an open file can always be replaced.
bool held_by_another_program(const std::string& path);

// Whether an ending signal has been held since hold_ending_signals().
bool ending_signal_held();

// Removes a claimed file and releases it.
void discard_temp_file(temp_file* file);

// "" when the system can take `text` as a name or an argument; otherwise its
// words for why not: a NUL byte, which no system call can take, or (on
// Windows) bytes that are no text in the program's encoding.
std::string text_error(const std::string& text);

#endif  // AUTODUMP_PLATFORM_PLATFORM_H_
