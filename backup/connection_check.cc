#include "backup/connection_check.h"

#include <csignal>
#include <string>

#include "backup/dump_command.h"
#include "platform/platform.h"

void check_connection(console& con, const backup_settings& settings) {
  dump_command command = build_check_command(settings);
  // Such a value fails every backup, which says why.
  if (!unusable_text(command).empty()) return;
  hold_ending_signals();
  int status =
      run_dump_tool(command, temp_file{}, monotonic_milliseconds() + connection_check_ms, nullptr);
  if (int signal = release_ending_signals()) end_by_signal(signal);
  // A tool that did not answer in time was ended as by SIGTERM.
  if (status == dump_tool_overran) status = 128 + SIGTERM;
  if (status != 0) print_line(con, text_id::warning_connection_failed, std::to_string(status));
}
