// The automatic backup: a countdown of one tick a second that runs the dump
// each time the interval has run out.
#ifndef AUTODUMP_BACKUP_SCHEDULER_H_
#define AUTODUMP_BACKUP_SCHEDULER_H_

#include <functional>
#include <string>

#include "backup/dump_job.h"
#include "settings/backup_settings.h"
#include "shell/console.h"

// What the scheduler needs from the world, so that tests can drive it tick by
// tick without sleeping or dumping.
struct backup_env {
  std::function<void()> sleep_one_second;
  std::function<dump_result(const dump_command& command, const dump_paths& paths)> run_dump;
};

// The real clock, ticking steadily from now, and the real dump.
backup_env system_backup_env();

// The screen is cleared after this many ticks, so that it never fills up.
constexpr int32_t clear_screen_every_ticks = 2000;

// Builds the dump command from the settings as they are now, then ticks for
// ever: counts down, shows the count, backs up when it has run out and reports
// how that went, clears the screen now and then, and sleeps. Never reads the
// console's input. Returns only if env.sleep_one_second throws.
[[noreturn]] void run_auto_backup(console& con, backup_settings& settings, const backup_env& env);

#endif  // AUTODUMP_BACKUP_SCHEDULER_H_
