#include "backup/scheduler.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "backup/cadence.h"
#include "backup/report_text.h"

namespace {

// "，文件大小：812.0 KB", or nothing where the size cannot be told (a dump
// into a pipe).
std::string size_piece(const console& con, text_id label, int64_t bytes) {
  return bytes == unknown_size ? "" : labelled(con, label, size_text(bytes));
}

// "<path>: <why>": the system's words, or the program's where the system has none.
std::string failure_text(const console& con, const os_error& error) {
  if (error.kind == error_kind::reserved_name)
    return error.path + ": " + std::string(text(text_id::reserved_name_reason, con.encoding));
  if (error.kind == error_kind::forbidden_name)
    return error.path + ": " + std::string(text(text_id::forbidden_name_reason, con.encoding));
  return error_text(error);
}

// The lines that say how a backup went.
std::vector<kept_line> report(const console& con, const backup_settings& settings,
                              const dump_result& result) {
  // Ended by a signal (Ctrl-C, a service stopping) before it could succeed.
  if (result.signal != 0 && result.outcome != dump_outcome::saved)
    return {keep_line(con, text_id::backup_interrupted)};
  switch (result.outcome) {
    case dump_outcome::tool_failed:
      return {keep_line(con, text_id::backup_failed, exit_status_text(result.exit_status))};
    case dump_outcome::not_saved:
      return {keep_line(con, text_id::backup_not_saved, failure_text(con, result.error))};
    case dump_outcome::busy:
      return {keep_line(con, text_id::backup_busy)};
    case dump_outcome::overran:
      return {keep_line(con, text_id::backup_overran)};
    case dump_outcome::interrupted:
      return {keep_line(con, text_id::backup_interrupted)};
    case dump_outcome::saved:
      break;
  }
  kept_line done = keep_line(con, text_id::backup_done, settings.save_dir);
  done.text += labelled(con, text_id::backup_done_in_dir, settings.save_file_name);
  done.text += dump_file_suffix;
  kept_line took =
      keep_line(con, text_id::dump_took, elapsed_text(result.elapsed_ms, con.encoding));
  took.text += size_piece(con, text_id::dump_took_size, result.bytes);
  std::vector<kept_line> lines = {done, took};
  if (const std::optional<os_error>& rights = result.rights_not_taken; rights) {
    if (rights->kind == error_kind::foreign)
      lines.push_back(keep_line(con, text_id::foreign_dump_file, rights->path));
    else
      lines.push_back(keep_line(con, text_id::rights_not_kept, error_text(*rights)));
  }
  return lines;
}

// Runs one backup, showing its progress and its result. Returns the lines to
// show again after the screen is cleared: when it started, and its result.
// A signal that ended the program meanwhile ends it once that is said.
std::vector<kept_line> back_up(console& con, const backup_settings& settings,
                               const dump_command& command, int64_t due_ms, os_env& env,
                               const dump_runner& run) {
  std::vector<kept_line> lines = {
      keep_line(con, text_id::last_backup_at, env.local_time_at(env.now_ms()))};
  print_line(con, text_id::backup_started);
  auto progress = [&con](int64_t elapsed_ms, int64_t bytes) {
    print_line(con,
               labelled(con, text_id::dump_progress, elapsed_text(elapsed_ms, con.encoding)) +
                   size_piece(con, text_id::dump_progress_written, bytes),
               level_of(text_id::dump_progress));
  };
  auto waiting = [&con](const std::string& held_file) {
    print_line(con, text_id::backup_waiting_for_holder, held_file);
  };
  dump_result result = run(env, command, dump_file_path(settings), due_ms, progress, waiting);
  for (const kept_line& line : report(con, settings, result)) {
    print_line(con, line);
    lines.push_back(line);
  }
  if (result.signal != 0) env.end_by_signal(result.signal);
  return lines;
}

// Whole seconds from `now_ms` until `due_ms`, rounded up; 0 once it is due.
int32_t seconds_until(int64_t due_ms, int64_t now_ms) {
  if (due_ms <= now_ms) return 0;
  return static_cast<int32_t>((due_ms - now_ms + second_ms - 1) / second_ms);
}

// The first of due_ms + k * interval_ms (k >= 1) that lies after `now_ms`:
// due times missed while the machine slept are not made up one by one.
int64_t next_due(int64_t due_ms, int64_t interval_ms, int64_t now_ms) {
  return due_ms + ((now_ms - due_ms) / interval_ms + 1) * interval_ms;
}

// Sleeps until the cadence's next tick; again if woken early, so that a tick
// never shows a second twice.
void sleep_one_tick(os_env& env, cadence* steady) {
  for (int64_t left = advance_cadence(steady, env.now_ms()); left > 0;
       left = steady->deadline_ms - env.now_ms())
    env.sleep(left);
}

}  // namespace

void run_auto_backup(console& con, backup_settings& settings, os_env& env, const dump_tool& tool,
                     const std::vector<kept_line>& warnings, const dump_runner& run) {
  const dump_command command = build_dump_command(settings, tool);
  const int64_t interval_ms = int64_t{settings.interval_days} * seconds_per_day * second_ms;
  int64_t now_ms = env.now_ms();
  // The count began a second before its first line, which shows one less.
  int64_t due_ms = now_ms + (int64_t{settings.countdown_seconds} - 1) * second_ms;
  // A restart keeps the schedule: one interval after the last dump, or at once
  // where that has passed; never later than a start without a dump.
  int64_t age_ms = 0;
  if (env.modified_ago(dump_file_path(settings), &age_ms) && age_ms >= 0)
    due_ms = std::clamp(now_ms + interval_ms - age_ms, now_ms, due_ms);
  // A due time already past (a dump that overran it) means the next tick.
  auto print_next_time = [&] {
    print_line(con, text_id::next_backup_at, env.local_time_at(std::max(due_ms, env.now_ms())));
  };
  print_next_time();
  // What a clearing takes away and brings back: the warnings until the first
  // backup, then the last backup's report.
  std::vector<kept_line> shown_again = warnings;
  int32_t clear_tick_count = 0;
  cadence steady;
  for (;;) {
    ++clear_tick_count;
    settings.countdown_seconds = seconds_until(due_ms, now_ms);
    print_line(con, text_id::progress_label, std::to_string(settings.countdown_seconds));
    if (settings.countdown_seconds == 0) {
      due_ms = next_due(due_ms, interval_ms, now_ms);
      shown_again = back_up(con, settings, command, due_ms, env, run);
      print_next_time();
    }
    if (clear_tick_count == clear_screen_every_ticks) {
      clear_tick_count = 0;
      // A log or a journal keeps every line: there, nothing is said twice.
      if (con.clear) {
        clear_screen(con);
        for (const kept_line& line : shown_again) print_line(con, line);
        print_next_time();
      }
    }
    sleep_one_tick(env, &steady);
    now_ms = env.now_ms();
  }
}
