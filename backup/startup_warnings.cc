#include "backup/startup_warnings.h"

#include "backup/dump_command.h"
#include "platform/platform.h"
#include "settings/configure_database.h"

namespace {

// Where a backup creates its files: the folder of the file it replaces.
void warn_of_dump_file(console& con, const std::string& dump_file) {
  std::string target;
  os_error refused;
  if (!resolve_links(dump_file, &target, &refused)) {
    print_line(con, text_id::warning_untrusted_link, refused.path);
    return;
  }
  if (is_directory(target)) {
    print_line(con, text_id::warning_dump_file_is_directory, dump_file);
    return;
  }
  std::string folder = directory_part(target);
  if (!directory_accepts_files(folder))
    print_line(con, text_id::warning_directory_unusable, folder.empty() ? "./" : folder);
}

// A value the system cannot take (a NUL byte from a file of answers) would
// fail every backup a whole interval later.
bool warn_of_unusable_values(console& con, const backup_settings& settings) {
  bool usable = true;
  for (const settings_field& field : settings_fields) {
    if (text_is_usable(settings.*field.value, nullptr)) continue;
    print_line(con, text_id::warning_unusable_value, field_name(con, field.label));
    usable = false;
  }
  return usable;
}

}  // namespace

bool warn_before_backing_up(console& con, const backup_settings& settings) {
  const bool named = !settings.db_name.empty();
  if (!named) print_line(con, text_id::warning_no_database);
  const bool usable = warn_of_unusable_values(con, settings);
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
  return named && usable && tool_found && fits;
}
