// One backup: the dump tool run, and its output put in place of the last
// dump only when it succeeded.
#ifndef AUTODUMP_BACKUP_DUMP_JOB_H_
#define AUTODUMP_BACKUP_DUMP_JOB_H_

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "backup/dump_command.h"
#include "backup/os_env.h"

enum class dump_outcome {
  saved,        // the new dump is in place
  tool_failed,  // the dump tool ended with a status other than 0
  not_saved,    // the dump could not be written or put in place
  busy,         // another program is writing the same dump file
  overran,      // the dump tool was still running at the deadline, and was ended
  interrupted,  // an ending signal came before the dump tool could start
};

// What a dump into a pipe or a device has written: nothing tells.
constexpr int64_t unknown_size = -1;

struct dump_result {
  dump_outcome outcome;
  int exit_status = 0;  // tool_failed: the dump tool's exit status
  // not_saved: what could not be written or put in place, and why;
  // reserved_name names the path alone.
  os_error error{};
  int64_t elapsed_ms = 0;  // saved: from the start of the dump to its end
  int64_t bytes = 0;       // saved: the size of the new dump, or unknown_size
  // saved: why the new dump did not take over the old one's access rights,
  // where it did not; `foreign` where another account owned the old one, so
  // that the new one is this account's alone.
  std::optional<os_error> rights_not_taken{};
  // The ending signal held meanwhile, 0 if none: the caller reports the
  // backup, then ends the program with end_by_signal().
  int signal = 0;
};

// Told once a second while the dump tool runs: the time since the dump
// started, and what it has written so far (or unknown_size).
using dump_progress = std::function<void(int64_t elapsed_ms, int64_t bytes_written)>;

// Told, once, that a dump waits for another program to let go of `held_file`.
using dump_waiting = std::function<void(const std::string& held_file)>;

// How long a dump waits for another program to let go of the file it needs
// (on Windows an antivirus scanner, a backup agent), trying once a second.
constexpr int held_dump_file_retries = 600;

// Runs `command`, whose standard output is the dump, and puts the dump in
// place of `dump_file` only when the tool succeeded before `deadline_ms` (on
// the clock of env.now_ms()); otherwise the dump file stays as it was.
// `on_progress` (where given) hears how the dump goes. Where another program
// holds the dump file, or a leftover temporary file being deleted, the dump
// waits for it for up to ten minutes, and `on_waiting` (where given) hears so
// when the waiting starts. A name Windows cannot save under fails the backup
// before anything runs.
// Where `dump_file` is a symbolic link of this program's account or the
// administrator's, the file it points to is replaced and the link stays;
// another account's link is not followed, and the backup fails. Where it is
// a pipe or a character device, the dump is written straight into it. No
// temporary file remains either way, and nothing of another program's backup
// to the same file is touched. A signal that ends the program meanwhile ends
// the dump tool too, and comes back in the result once the temporary file is
// gone.
dump_result run_dump(os_env& env, const dump_command& command, const std::string& dump_file,
                     int64_t deadline_ms, const dump_progress& on_progress = nullptr,
                     const dump_waiting& on_waiting = nullptr);

#endif  // AUTODUMP_BACKUP_DUMP_JOB_H_
