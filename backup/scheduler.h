// The automatic backup: a countdown shown once a second that runs the dump
// each time the interval has run out, on a schedule anchored to its start.
#ifndef AUTODUMP_BACKUP_SCHEDULER_H_
#define AUTODUMP_BACKUP_SCHEDULER_H_

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "backup/dump_job.h"
#include "settings/backup_settings.h"
#include "shell/console.h"

// How a backup is made: run_dump(), or a test's stand-in for it.
using dump_runner = std::function<dump_result(
    os_env& env, const dump_command& command, const std::string& dump_file, int64_t deadline_ms,
    const dump_progress& on_progress, const dump_waiting& on_waiting)>;

// The screen is cleared after this many ticks, so that it never fills up.
constexpr int32_t clear_screen_every_ticks = 2000;

// Builds the dump command from the settings as they are now, says when the
// first backup is due, then ticks for ever: shows the seconds left until the
// next backup is due, backs up when none are left (showing its progress each
// second) and reports how that went and when the next is due, and sleeps.
// On a screen it is cleared now and then, and what it showed comes back:
// `warnings` (the start-up warnings) until the first backup, then the last
// backup's report; a log or a journal gets every line once. A signal that
// cuts a backup short ends the program once that is said.
// The first backup is due settings.countdown_seconds - 1 seconds after the
// first tick, or earlier where the dump file was last written less than that
// before: an interval after it was, or at the first tick where that has
// passed (a dump file from the future counts as none). Each later one is due an
// interval after the one before, however long a
// dump takes; a dump still running when the next falls due is ended. After a
// stall past due times (a sleeping machine), one backup runs at once, then the
// next due time that lies ahead. Each backup runs `tool` through `run`. Never
// reads the console's input. Returns only by a throw from `env` or `run`.
[[noreturn]] void run_auto_backup(console& con, backup_settings& settings, os_env& env,
                                  const dump_tool& tool, const std::vector<kept_line>& warnings,
                                  const dump_runner& run = run_dump);

#endif  // AUTODUMP_BACKUP_SCHEDULER_H_
