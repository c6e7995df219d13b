#include "backup/dump_command.h"

#include "platform/platform.h"

std::string dump_file_path(const backup_settings& settings) {
  return settings.save_dir + settings.save_file_name + dump_file_suffix;
}

std::string temp_file_path(const std::string& target) { return target + ".part"; }

std::string dump_tool_to_start(const std::function<std::string(const std::string&)>& find) {
  const std::string old_name = find(dump_tool_name);
  if (old_name.empty()) {
    std::string new_name = find(dump_tool_new_name);
    return new_name.empty() ? dump_tool_name : new_name;
  }
  // Beside it (on Debian one is a link to the other), whatever comes first on PATH.
  std::string beside = find(directory_part(old_name) + dump_tool_new_name);
  return beside.empty() ? old_name : beside;
}

dump_command build_dump_command(const backup_settings& settings, const std::string& tool) {
  dump_command command;
  command.arguments = {tool, "-h" + settings.server_address, "-u" + settings.db_user,
                       "-p" + settings.db_password};
  // The tool reads any word after "--" as the database, even "--help".
  if (!settings.db_name.empty() && settings.db_name[0] == '-') command.arguments.push_back("--");
  command.arguments.push_back(settings.db_name);
  return command;
}

dump_command build_check_command(const backup_settings& settings, const std::string& tool) {
  dump_command command = build_dump_command(settings, tool);
  // After the password, before the "--" that may end the options; and after
  // what the option file says, so that these win over it. Each of the others
  // would lock or flush on the server (a global read lock, for a replication
  // position too), and every start of the program would block its writers.
  // MariaDB's and MySQL's tools both take these forms.
  command.arguments.insert(command.arguments.begin() + 4,
                           {"--no-data", "--skip-lock-tables", "--skip-lock-all-tables",
                            "--skip-flush-logs", "--skip-flush-privileges", "--master-data=0",
                            "--dump-slave=0", "--skip-delete-master-logs"});
  return command;
}

std::string unusable_text(const dump_command& command, const std::string& dump_file) {
  os_error error;
  for (const std::string& argument : command.arguments)
    if (!text_is_usable(argument, &error)) return error_text(error);
  return text_is_usable(dump_file, &error) ? "" : error_text(error);
}
