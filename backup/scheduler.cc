#include "backup/scheduler.h"

#include "backup/cadence.h"
#include "platform/platform.h"

namespace {

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
    case dump_outcome::saved:
      break;
  }
  std::string line(text(text_id::backup_done, con.encoding));
  line += settings.save_dir;
  line += text(text_id::backup_done_in_dir, con.encoding);
  line += settings.save_file_name + dump_file_suffix;
  print_line(con, line);
}

void back_up(console& con, backup_settings& settings, const dump_command& command,
             const dump_paths& paths, const backup_env& env) {
  print_line(con, text_id::backup_started);
  dump_result result = env.run_dump(command, paths);
  reload_countdown(settings);
  report(con, settings, result);
}

}  // namespace

backup_env system_backup_env() {
  cadence steady{monotonic_milliseconds()};
  return {[steady]() mutable {
            sleep_milliseconds(wait_for_next_tick(&steady, monotonic_milliseconds()));
          },
          run_dump};
}

void run_auto_backup(console& con, backup_settings& settings, const backup_env& env) {
  const dump_command command = build_dump_command(settings);
  const dump_paths paths = dump_paths_for(settings);
  int32_t clear_tick_count = 0;
  for (;;) {
    --settings.countdown_seconds;
    ++clear_tick_count;
    print_line(con, text_id::progress_label, std::to_string(settings.countdown_seconds));
    if (settings.countdown_seconds < 1) back_up(con, settings, command, paths, env);
    if (clear_tick_count == clear_screen_every_ticks) {
      clear_screen(con);
      clear_tick_count = 0;
    }
    env.sleep_one_second();
  }
}
