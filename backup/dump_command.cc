#include "backup/dump_command.h"

#include "backup/shell_quote.h"

namespace {

constexpr char kTempSuffix[] = ".part";

}  // namespace

dump_paths dump_paths_for(const backup_settings& settings) {
  std::string dump_file = settings.save_dir + settings.save_file_name + dump_file_suffix;
  return {dump_file, dump_file + kTempSuffix};
}

dump_command build_dump_command(const backup_settings& settings) {
  dump_command command;
  command.arguments = {"mysqldump", "-h" + settings.server_address, "-u" + settings.db_user,
                       "-p" + settings.db_password};
  // The tool reads any word after "--" as the database, even "--help".
  const bool looks_like_option = !settings.db_name.empty() && settings.db_name[0] == '-';
  if (looks_like_option) command.arguments.push_back("--");
  command.arguments.push_back(settings.db_name);

  // The shell becomes the dump tool, so that no shell stays behind holding the
  // whole line, password and all, and a signal for the dump reaches the tool.
  command.shell_line = "exec mysqldump -h" + shell_quote(settings.server_address) +  //
                       " -u" + shell_quote(settings.db_user) +                      //
                       " -p" + shell_quote(settings.db_password) + " ";
  if (looks_like_option) command.shell_line += "-- ";
  command.shell_line += shell_quote(settings.db_name) + " > " + shell_quote(settings.save_dir) +
                        shell_quote(settings.save_file_name) + dump_file_suffix + kTempSuffix;
  return command;
}

bool holds_nul_byte(const dump_command& command) {
  return command.shell_line.find('\0') != std::string::npos;
}
