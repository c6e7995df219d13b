#include "backup/startup_warnings.h"

#include "backup/dump_command.h"
#include "platform/platform.h"

void warn_before_backing_up(console& con, const backup_settings& settings) {
  if (settings.db_name.empty()) print_line(con, text_id::warning_no_database);
  if (!directory_accepts_files(settings.save_dir))
    print_line(con, text_id::warning_directory_unusable, settings.save_dir);
  if (!settings.save_dir.empty() && !ends_with_separator(settings.save_dir))
    print_line(con, text_id::warning_no_trailing_slash, dump_paths_for(settings).dump_file);
  if (!dump_tool_found()) print_line(con, text_id::warning_no_dump_tool);
}
