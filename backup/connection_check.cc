#include "backup/connection_check.h"

#include <csignal>
#include <string>

#include "backup/dump_command.h"
#include "backup/report_text.h"
#include "backup/tool_run.h"

void check_connection(console& con, const backup_settings& settings, const std::string& dump_tool,
                      const dump_env& env, std::vector<kept_line>* shown) {
  dump_command command = build_check_command(settings, dump_tool);
  // Such a value fails every backup, which says why.
  if (!unusable_text(command).empty()) return;
  env.hold_ending_signals();
  tool_result run = run_tool(env, command.arguments, scoped_handle(),
                             env.now_ms() + connection_check_ms, nullptr);
  if (int signal = env.release_ending_signals()) env.end_by_signal(signal);
  // A tool that did not answer in time was ended as by SIGTERM.
  int status = run.end == tool_end::overran ? 128 + SIGTERM : run.status;
  if (status == 0) return;
  shown->push_back(keep_line(con, text_id::warning_connection_failed, exit_status_text(status)));
  print_line(con, shown->back());
}
