#include "backup/startup_warnings.h"

#include "backup/dump_command.h"
#include "platform/platform.h"
#include "settings/configure_database.h"

namespace {

// Prints a warning, and keeps it for showing again.
void warn(console& con, std::vector<kept_line>* shown, kept_line line) {
  print_line(con, line);
  shown->push_back(std::move(line));
}

// Where a backup creates its files: the folder of the file it replaces.
void warn_of_dump_file(console& con, os_env& env, const std::string& dump_file,
                       std::vector<kept_line>* shown) {
  std::string target;
  os_error refused;
  if (!env.resolve_links(dump_file, &target, &refused)) {
    warn(con, shown, keep_line(con, text_id::warning_untrusted_link, refused.path));
    return;
  }
  std::string name;
  if (env.name_has_forbidden_characters(target, &name)) {
    warn(con, shown, keep_line(con, text_id::warning_forbidden_name, name));
    return;
  }
  if (env.name_is_reserved(target, &name)) {
    warn(con, shown, keep_line(con, text_id::warning_reserved_name, name));
    return;
  }
  if (env.is_directory(target)) {
    warn(con, shown, keep_line(con, text_id::warning_dump_file_is_directory, dump_file));
    return;
  }
  std::string folder = directory_part(target);
  os_error refused_files;
  if (!env.directory_accepts_files(folder, &refused_files))
    warn(con, shown,
         keep_line(con, text_id::warning_directory_unusable,
                   (folder.empty() ? "./" : folder) + ": " + refused_files.reason));
}

// A value the system cannot take (a NUL byte from a file of answers) would
// fail every backup a whole interval later.
bool warn_of_unusable_values(console& con, os_env& env, const backup_settings& settings,
                             std::vector<kept_line>* shown) {
  bool usable = true;
  for (const settings_field& field : settings_fields) {
    os_error error;
    if (env.text_is_usable(settings.*field.value, &error)) continue;
    // On Windows: what was typed holds a character the code page lacks.
    text_id warning = error.kind == error_kind::unrepresentable ? text_id::warning_unrepresentable
                                                                : text_id::warning_unusable_value;
    warn(con, shown, keep_line(con, warning, field_name(con, field.label)));
    usable = false;
  }
  return usable;
}

}  // namespace

bool warn_before_backing_up(console& con, os_env& env, const backup_settings& settings,
                            const std::string& dump_tool, std::vector<kept_line>* shown) {
  const bool named = !settings.db_name.empty();
  if (!named) warn(con, shown, keep_line(con, text_id::warning_no_database));
  const bool usable = warn_of_unusable_values(con, env, settings, shown);
  const std::string dump_file = dump_file_path(settings);
  warn_of_dump_file(con, env, dump_file, shown);
  const std::string& dir = settings.save_dir;
  if (!dir.empty() && directory_part(dir).size() != dir.size())
    warn(con, shown, keep_line(con, text_id::warning_no_trailing_slash, dump_file));
  const bool tool_found = !env.find_program(dump_tool).empty();
  if (!tool_found)
    warn(con, shown,
         keep_line(con, text_id::warning_no_dump_tool, dump_tool_name,
                   text_id::warning_no_dump_tool_end));
  const bool fits = env.arguments_fit(build_dump_command(settings, {dump_tool}).arguments);
  if (!fits) warn(con, shown, keep_line(con, text_id::warning_too_long, dump_tool_name));
  return named && usable && tool_found && fits;
}
