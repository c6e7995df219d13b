#include "backup/scheduler.h"

#include "backup/cadence.h"
#include "platform/platform.h"

namespace {

constexpr int64_t kSecondMs = 1000;

void report(console& con, const backup_settings& settings, const dump_result& result) {
  switch (result.outcome) {
    case dump_outcome::tool_failed:
      print_line(con, text_id::backup_failed, std::to_string(result.exit_status));
      return;
    case dump_outcome::not_saved:
      print_line(con, text_id::backup_not_saved, result.error);
      return;
    case dump_outcome::busy:
      print_line(con, text_id::backup_busy);
      return;
    case dump_outcome::overran:
      print_line(con, text_id::backup_overran);
      return;
    case dump_outcome::saved:
      break;
  }
  std::string line(text(text_id::backup_done, con.encoding));
  line += settings.save_dir;
  line += text(text_id::backup_done_in_dir, con.encoding);
  line += settings.save_file_name + dump_file_suffix;
  print_line(con, line);
}

// Whole seconds from `now_ms` until `due_ms`, rounded up; 0 once it is due.
int32_t seconds_until(int64_t due_ms, int64_t now_ms) {
  if (due_ms <= now_ms) return 0;
  return static_cast<int32_t>((due_ms - now_ms + kSecondMs - 1) / kSecondMs);
}

// The first of due_ms + k * interval_ms (k >= 1) that lies after `now_ms`:
// due times missed while the machine slept are not made up one by one.
int64_t next_due(int64_t due_ms, int64_t interval_ms, int64_t now_ms) {
  return due_ms + ((now_ms - due_ms) / interval_ms + 1) * interval_ms;
}

}  // namespace

backup_env system_backup_env() {
  cadence steady{monotonic_milliseconds()};
  return {monotonic_milliseconds,
          [steady]() mutable {
            // Again if woken early: a tick must not show a second twice.
            for (int64_t left = wait_for_next_tick(&steady, monotonic_milliseconds()); left > 0;
                 left = steady.deadline_ms - monotonic_milliseconds())
              sleep_milliseconds(left);
          },
          run_dump};
}

void run_auto_backup(console& con, backup_settings& settings, const backup_env& env) {
  const dump_command command = build_dump_command(settings);
  const std::string dump_file = dump_file_path(settings);
  const int64_t interval_ms = int64_t{settings.interval_days} * seconds_per_day * kSecondMs;
  int64_t now_ms = env.now_ms();
  // The count began a second before its first line, which shows one less.
  int64_t due_ms = now_ms + (int64_t{settings.countdown_seconds} - 1) * kSecondMs;
  int32_t clear_tick_count = 0;
  for (;;) {
    ++clear_tick_count;
    settings.countdown_seconds = seconds_until(due_ms, now_ms);
    print_line(con, text_id::progress_label, std::to_string(settings.countdown_seconds));
    if (settings.countdown_seconds == 0) {
      due_ms = next_due(due_ms, interval_ms, now_ms);
      print_line(con, text_id::backup_started);
      report(con, settings, env.run_dump(command, dump_file, due_ms));
    }
    if (clear_tick_count == clear_screen_every_ticks) {
      clear_screen(con);
      clear_tick_count = 0;
    }
    env.sleep_one_second();
    now_ms = env.now_ms();
  }
}
