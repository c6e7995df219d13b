// What autodump needs from the operating system, behind one header so that the
// rest of the program stays portable and its tests never touch the OS by
// accident. It speaks of consoles, clocks, files, programs and signals; what a
// backup is, and which program makes the dump, the platform does not know.
//
// Every call that can fail returns true when it did what it says, and
// otherwise false with `error` (where not null) saying why.
#ifndef AUTODUMP_PLATFORM_PLATFORM_H_
#define AUTODUMP_PLATFORM_PLATFORM_H_

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// What kind of failure a caller may act on; `other` for every other.
enum class error_kind {
  other,
  exists,           // something is in the way at the path
  claimed,          // another program has claimed the file (create_temp_file())
  busy,             // another program holds the file open (Windows: not sharing it, or
                    // holding it while it is being deleted), for now
  unrepresentable,  // the text holds a character the program's encoding lacks
  foreign,          // another account owns the file, and it is not taken as this program's
  reserved_name,    // a name in the path is Windows' for a device (name_is_reserved())
  forbidden_name,   // a name in the path holds a character Windows forbids
                    // (name_has_forbidden_characters())
};

struct os_error {
  error_kind kind = error_kind::other;
  std::string path{};    // the file it is about; "" where none in particular
  std::string reason{};  // the system's words
};

// "<path>: <reason>", or the reason alone where there is no path.
inline std::string error_text(const os_error& error) {
  return error.path.empty() ? error.reason : error.path + ": " + error.reason;
}

// A POSIX descriptor or a Windows handle that is closed when it goes
// (files_posix.cc, files_win32.cc).
class scoped_handle {
 public:
  scoped_handle() = default;
  explicit scoped_handle(std::intptr_t value) : value_(value) {}
  scoped_handle(scoped_handle&& other) noexcept : value_(other.release()) {}
  scoped_handle& operator=(scoped_handle&& other) noexcept {
    reset(other.release());
    return *this;
  }
  scoped_handle(const scoped_handle&) = delete;
  scoped_handle& operator=(const scoped_handle&) = delete;
  ~scoped_handle() { reset(); }

  std::intptr_t get() const { return value_; }
  // Whether it holds a descriptor or handle (on Windows neither null nor
  // INVALID_HANDLE_VALUE; on POSIX not negative).
  bool valid() const;
  std::intptr_t release() { return std::exchange(value_, -1); }
  // Closes what it holds, and holds `value` instead.
  void reset(std::intptr_t value = -1);

 private:
  std::intptr_t value_ = -1;
};

// --- The clock (clock_posix.cc, clock_win32.cc) ---------------------------------

// Suspends the thread for the given time.
void sleep_milliseconds(int64_t milliseconds);

// Milliseconds from an arbitrary start, on a clock that only moves forward and
// goes on while the machine sleeps or the program is stopped, so that a
// schedule kept on it keeps its hours.
int64_t monotonic_milliseconds();

// --- The console (console_posix.cc, console_win32.cc) ---------------------------

// Where standard input or output is a Windows console, read_input_byte() and
// write_output() read and write it through the console's wide calls, in the
// program's encoding (console_codeset()); elsewhere (POSIX, files, pipes)
// they read and write bytes in that encoding.
void connect_console_streams();

// The next byte of standard input without taking it, waiting for it where
// none has come yet; -1 at the end of the input or where it cannot be read.
int peek_input_byte();

// Takes the byte that peek_input_byte() gave.
void take_input_byte();

// Writes `bytes` to standard output at once. A write that fails (a full disk,
// a reader gone) is dropped; the next one is tried all the same. On POSIX no
// stream of the C++ library is involved: setting up its locales would cost
// the program a third of its memory.
void write_output(std::string_view bytes);

// True when standard output is a terminal that clear_terminal() can clear.
bool stdout_can_be_cleared();

// True when standard output is a terminal (on Windows a console): what is
// printed there is seen on a screen, and kept in no file, pipe or journal.
bool stdout_is_screen();

// True when standard output is systemd's journal: JOURNAL_STREAM names its
// device and inode. Never on Windows.
bool stdout_is_journal();

// Clears the terminal that standard output shows, after what was written to
// it (escape sequences through write_output() where those are the means).
void clear_terminal();

// The character set the console shows text in (for example "UTF-8" or
// "GBK"), or "" when it cannot be told: on POSIX the operator's locale's, on
// Windows UTF-8 for a console on code page 65001 and GBK for every other.
// Leaves the program in the classic C locale.
std::string console_codeset();

// Keeps the console from pausing the program while the automatic backup runs:
// a click in a Windows console window would otherwise start a selection
// (QuickEdit) that suspends every line printed, and with it the countdown.
void keep_console_from_pausing();

// --- Files and names (files_posix.cc, files_win32.cc) ---------------------------

// Gives each of standard input, output and error that is closed (on Windows,
// missing) the null device, so that no file opened later can take its place
// and receive what is printed. The first thing the program does.
void open_standard_streams();

// Whether `directory` ("" for the current one) is a directory in which this
// program may create files; where not, `error` says why (it is missing, not a
// directory, not writable, on a read-only file system).
bool directory_accepts_files(const std::string& directory, os_error* error);

// Whether `path` names a directory (following symbolic links).
bool is_directory(const std::string& path);

// `path` up to and including its last directory separator ("/", and on
// Windows "\" too); "" when it has none.
std::string directory_part(const std::string& path);

// Where a write to `path` lands, in `target`: the file that a symbolic link at
// `path` points to, through any chain of links, whether that file exists or
// not (a relative link is taken from the link's folder; on Windows one that
// begins with a separator from its drive's root, and the link's substitute
// name is what is followed, as Windows does); `path` itself when it
// is no link, or when the links go round in a circle. A link is followed only
// when this program's account or the administrator (root; on Windows SYSTEM or
// the Administrators) owns it: another account's link fails with the reason
// the system gives for a link it refuses ("Permission denied"), naming it.
bool resolve_links(const std::string& path, std::string* target, os_error* error);

// How long ago, on the real clock, the file a write to `path` lands in (as
// resolve_links() says) was last modified; negative for a time ahead of the
// clock. False where that is no regular file.
bool modified_ago(const std::string& path, int64_t* age_ms);

// Where `path` names a pipe (FIFO) or a character device, opens it for writing
// into, as a shell's ">" would: from the start, without creating, truncating
// or replacing it, without waiting for a reader. True with `device` not valid
// where `path` is none of these (nothing, a regular file, a directory, a link);
// never a device on Windows. Fails with "Permission denied" where its owner is
// neither this program's account nor root, with the system's reason for a
// socket, a block device or a pipe that nobody reads.
bool open_device(const std::string& path, scoped_handle* device, os_error* error);

// Whether a name in `path` (a folder's or the file's) is one Windows keeps
// for a device (CON, PRN, AUX, NUL, COM0 to COM9, LPT0 to LPT9, CONIN$,
// CONOUT$, in any case, alone or with an extension: "NUL.sql" is NUL too), or
// ends in a dot or a blank, which Windows strips: nothing can be saved under
// it. `name` gets that name. Never on POSIX.
bool name_is_reserved(const std::string& path, std::string* name);

// Whether a name in `path` (a folder's or the file's) holds a character that
// Windows allows in no file name: < > : " | ? * or one from 1 to 31 (a colon
// would name a stream of another file on NTFS). A drive's colon ("D:"), the
// "\\?\", "\\.\" and "\\?\UNC\" prefixes and a share's server and name are
// no names of the path. `name` gets that name. Never on POSIX.
bool name_has_forbidden_characters(const std::string& path, std::string* name);

// True when the system can take `text` as a name or an argument; otherwise
// false with its words for why not: a NUL byte, which no system call can
// take, or (on Windows, `unrepresentable`) bytes that are no text in the
// program's encoding, as a character typed that it lacks becomes.
bool text_is_usable(const std::string& text, os_error* error);

// --- Programs and ending signals (programs_posix.cc, programs_win32.cc) ---------

// The full path of the program that start_program() would start for `name`:
// looked for as a shell looks for a command (on Windows as Windows looks for a
// program: this program's folder, the current folder, the system folders,
// PATH, with ".exe" added where the name has no suffix); "" where there is
// none. A name with a directory separator is that file, not searched for.
std::string find_program(const std::string& name);

// Whether the system can start a program with these arguments, which are
// limited in length: on Linux 128 KiB each and about 2 MiB together with the
// environment, on Windows 32,767 characters for the whole command line.
bool arguments_fit(const std::vector<std::string>& arguments);

// Makes a write to a pipe or socket that nobody reads any more fail, as any
// other failed write does, instead of ending the program (SIGPIPE on POSIX;
// Windows has no such signal): a log reader that dies stops no backup. The
// programs it starts still meet such a write as they would without it.
void survive_closed_pipes();

// From hold_ending_signals() until release_ending_signals(), the signals with
// which an operator, another program or the system can end a console program
// do not end the process (on POSIX every signal whose default action ends it,
// except those of the program's own faults; on Windows Ctrl-C, Ctrl-Break and
// the closing of the console): the first one is held, and passed on to a
// program started meanwhile. A signal that the process ignored from its start
// stays ignored, and is not passed on. On Windows a second event while a
// program runs ends the process at once, with the program; a temporary file
// it leaves is cleared by the next backup. Logging off (which only services
// hear, for any user) is no ending event.

void hold_ending_signals();
// Ends the holding. Returns the first signal held meanwhile, 0 if none; the
// caller tidies up and then passes it on with end_by_signal().
int release_ending_signals();

// Whether an ending signal has been held since hold_ending_signals().
bool ending_signal_held();

// Ends the process as `signal` would have ended it.
[[noreturn]] void end_by_signal(int signal);

// A program started by start_program(), with all it starts in turn, wherever
// that goes (another process group or session on POSIX; on Windows a job holds
// them). When it goes, whatever of it still runs is ended by force. The
// program itself never outlives this one, however this one ends; what it
// started does not either, unless this one is killed by SIGKILL on POSIX.
struct program;
struct program_deleter {
  void operator()(program* started) const;
};
using program_ptr = std::unique_ptr<program, program_deleter>;

// Starts `arguments[0]` (found as find_program() says) directly, without a
// shell, with the arguments after it, standard input from the null device,
// standard output into `output` (the null device where it is not valid) and
// this program's standard error, in a process group of its own (on Windows a
// job). Every signal passed on and every end reaches it and all it started.
// Needs the ending signals held, and no other program started by this one
// running: on POSIX every child that comes to this program from then on is
// taken for part of it, while those it had before (a shell's process
// substitution reading its output) are left alone. A program that is found but cannot run gives exit status 126,
// or 127 where it cannot be found at all on POSIX; on Windows, where it cannot
// be found or started, the call fails.
bool start_program(const std::vector<std::string>& arguments, const scoped_handle& output,
                   program_ptr* started, os_error* error);

// Waits at most `timeout_ms` for `started` and every process it started to
// end, passing on to all of them an ending signal held meanwhile (a second one
// ends them by force). True once they have ended, with `status` the exit
// status of `started` itself, or 128 + the signal number when a signal ended
// it.
bool wait_for_program(program& started, int64_t timeout_ms, int* status);

// Asks `started` and all it started to end: on POSIX with SIGTERM; Windows
// has no such request, and ends them as end_program_by_force() does.
void end_program_politely(program& started);

// Ends `started` and all it started at once.
void end_program_by_force(program& started);

// --- Temporary files (temp_file_posix.cc, temp_file_win32.cc) -------------------

// The file a program's output is written to until it is complete: this
// program's alone while it is claimed.
struct temp_file {
  std::string path;
  scoped_handle handle;
};

// Creates `path` afresh, owned by this program's account, readable and
// writable by it alone, and locks it until it is put in place or discarded.
// Fails with `exists` where something is already at `path` or took its place
// before the lock, with `claimed` where another program holds its claim on
// it, with `busy` where a file there is being deleted but another program
// still holds it open (Windows), so that its name cannot be had yet. Unless it
// succeeds, nothing is left created.
bool create_temp_file(const std::string& path, temp_file* file, os_error* error);

// Removes a leftover temporary file at `path`: a regular file of this
// program's account that no program has claimed; true also when nothing is
// there. Its name is free at once, even where another program (a scanner)
// still holds the file open. Fails with `claimed` where another program has
// claimed it, with `busy` where another program holds it so that it cannot
// be removed for now; anything else at `path`
// (another account's file, a link, which is not followed, a directory) is in
// the way, and fails with the system's reason.
bool remove_leftover(const std::string& path, os_error* error);

// How many bytes a claimed file holds now.
int64_t claimed_size(const temp_file& file);

// Gives the claimed `file` the access rights of `target`, where that exists and
// is a file this program trusts: a regular file owned by this program's account
// or the administrator (root; on Windows SYSTEM or the Administrators). On
// POSIX its permission bits (without set-ID and sticky bits) and, where
// allowed, its owner and group; on Windows its access control list. From
// another account's file (which could make the dump that account's, or
// everyone's) nothing is taken: `file` keeps its private rights, and the call
// fails with `foreign`, naming `target`. Nothing there, or no regular file:
// `file` keeps its private rights, and the call succeeds.
bool take_over_permissions(temp_file* file, const std::string& target, os_error* error);

// Flushes `file` to disk, then renames it over `target` in one step and
// releases it. Nothing is renamed unless `file`'s path still names the file
// claimed. On failure `target` is untouched and `file` still claimed; the
// failure is `busy`, naming the file held, where another program holds
// `target` or `file` open so that one cannot be replaced for now (on Windows
// an antivirus scanner, a backup agent; where the system cannot replace a
// file by its handle, also one that shares its deletion); never on POSIX,
// where an open file can always be replaced.
bool put_in_place(temp_file* file, const std::string& target, os_error* error);

// Removes a claimed file, unless something else has taken its name, and
// releases it; its name is free at once, as remove_leftover() leaves it.
void discard_temp_file(temp_file* file);

// A file that the program started next reads by `name` and that no other
// account can read: on Linux a file in memory that it inherits ("/dev/fd/N"),
// which never reaches a disk; on Windows a file in the account's temporary
// folder, readable by this account, SYSTEM and the Administrators only.
struct handed_file {
  std::string name;
  scoped_handle handle;
};

// Creates a handed file holding `content`. On Windows the handed files that a
// run of this program left when it was killed are removed first.
bool create_handed_file(const std::string& content, handed_file* file, os_error* error);

// Removes a handed file: nothing of it is left.
void remove_handed_file(handed_file* file);

// A file without a name, this program's alone, for a started program's output
// (start_program's `output`) that this program reads back; gone with its handle.
bool create_scratch_file(scoped_handle* file, os_error* error);

// Up to `most` bytes from the start of a scratch file.
std::string read_scratch_file(const scoped_handle& file, std::size_t most);

#endif  // AUTODUMP_PLATFORM_PLATFORM_H_
