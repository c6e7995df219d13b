#include <cstdlib>
#include <vector>

#include "backup/connection_check.h"
#include "backup/scheduler.h"
#include "backup/startup_warnings.h"
#include "platform/platform.h"
#include "settings/backup_settings.h"
#include "shell/console.h"
#include "shell/main_menu.h"

namespace {

// The one record for the whole run, with its defaults before main starts.
backup_settings g_settings;

void clear_standard_output(console_io&) { clear_terminal(); }

}  // namespace

int main() {
  // Before anything opens a file that could become standard output.
  open_standard_streams();
  survive_closed_pipes();
  connect_console_streams();
  console con{standard_io(), encoding_for_codeset(console_codeset()),
              stdout_can_be_cleared() ? clear_standard_output : nullptr, stdout_is_screen(),
              stdout_is_journal()};
  int status = run_main_menu(con, g_settings, [&con] {
    keep_console_from_pausing();
    os_env& env = system_env();
    dump_tool tool{dump_tool_to_start(env)};
    std::vector<kept_line> warnings;
    if (warn_before_backing_up(con, env, g_settings, tool.path, &warnings)) {
      tool.version = identify_tool(env, tool.path);
      check_connection(con, g_settings, tool, env, &warnings);
    }
    run_auto_backup(con, g_settings, env, tool, warnings);
  });
  std::exit(status);
}
