#include "backup/startup_warnings.h"

#include "backup/dump_command.h"
#include "platform/platform.h"

namespace {

// Where a backup creates its files: the folder of the file it replaces.
void warn_of_dump_file(console& con, const std::string& dump_file) {
  std::string target = link_target(dump_file);
  if (is_directory(target)) {
    print_line(con, text_id::warning_dump_file_is_directory, dump_file);
    return;
  }
  std::string folder = directory_part(target);
  if (!directory_accepts_files(folder))
    print_line(con, text_id::warning_directory_unusable, folder.empty() ? "./" : folder);
}

}  // namespace

bool warn_before_backing_up(console& con, const backup_settings& settings) {
  const bool named = !settings.db_name.empty();
  if (!named) print_line(con, text_id::warning_no_database);
  const std::string dump_file = dump_file_path(settings);
  warn_of_dump_file(con, dump_file);
  const std::string& dir = settings.save_dir;
  if (!dir.empty() && directory_part(dir).size() != dir.size())
    print_line(con, text_id::warning_no_trailing_slash, dump_file);
  const bool tool_found = !find_program(dump_tool_name).empty();
  if (!tool_found)
    print_line(con, text_id::warning_no_dump_tool, dump_tool_name,
               text_id::warning_no_dump_tool_end);
  const bool fits = arguments_fit(build_dump_command(settings).arguments);
  if (!fits) print_line(con, text_id::warning_too_long, dump_tool_name);
  return named && tool_found && fits;
}
