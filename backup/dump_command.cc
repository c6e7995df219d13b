#include "backup/dump_command.h"

#include "platform/platform.h"

std::string dump_file_path(const backup_settings& settings) {
  return settings.save_dir + settings.save_file_name + dump_file_suffix;
}

std::string temp_file_path(const std::string& target) { return target + ".part"; }

std::string dump_tool_to_start(os_env& env) {
  const std::string old_name = env.find_program(dump_tool_name);
  if (old_name.empty()) {
    std::string new_name = env.find_program(dump_tool_new_name);
    return new_name.empty() ? dump_tool_name : new_name;
  }
  // Beside it (on Debian one is a link to the other), whatever comes first on PATH.
  std::string beside = env.find_program(directory_part(old_name) + dump_tool_new_name);
  return beside.empty() ? old_name : beside;
}

std::string option_file_with_password(const std::string& password) {
  // Double quotes keep "#" from starting a comment; inside them a backslash
  // and a double quote are escaped, and every other byte stands for itself.
  std::string quoted = "\"";
  for (char c : password) {
    if (c == '\\' || c == '"') quoted += '\\';
    quoted += c;
  }
  return "[client]\npassword=" + quoted + "\"\n";
}

namespace {

// The tool, the connection, and the options for this tool; then `options`,
// and last the words that are no options, after a "--" where one of them
// begins with "-" (the tool reads any word after "--" as a name, even "--help").
dump_command connecting(const backup_settings& settings, const dump_tool& tool,
                        const std::vector<std::string>& options,
                        const std::vector<std::string>& names) {
  dump_command command{{tool.path, "-h" + settings.server_address, "-u" + settings.db_user},
                       option_file_with_password(settings.db_password)};
  std::vector<std::string>& arguments = command.arguments;
  const std::vector<std::string> for_tool = family_options(tool.version);
  arguments.insert(arguments.end(), for_tool.begin(), for_tool.end());
  arguments.insert(arguments.end(), options.begin(), options.end());
  for (const std::string& name : names)
    if (!name.empty() && name[0] == '-') {
      arguments.push_back("--");
      break;
    }
  arguments.insert(arguments.end(), names.begin(), names.end());
  return command;
}

}  // namespace

dump_command build_dump_command(const backup_settings& settings, const dump_tool& tool) {
  return connecting(settings, tool, {}, {settings.db_name});
}

dump_command build_check_command(const backup_settings& settings, const dump_tool& tool) {
  // After what the option file says, so that these win over it. Each of the
  // others would lock or flush on the server (a global read lock, for a
  // replication position too), and every start of the program would block
  // its writers.
  std::vector<std::string> options = quiet_options(tool.version);
  options.push_back("--skip-lock-tables");
  return connecting(settings, tool, options, {settings.db_name});
}

dump_command build_lock_check_command(const backup_settings& settings, const dump_tool& tool,
                                      const std::string& table) {
  // Where the option file turns table locks off (single-transaction), the
  // tool takes none here either, as in the dump.
  return connecting(settings, tool, quiet_options(tool.version), {settings.db_name, table});
}

dump_command build_version_command(const dump_tool& tool) {
  dump_command command{{tool.path}};
  const std::vector<std::string> query = version_query();
  command.arguments.insert(command.arguments.end(), query.begin(), query.end());
  return command;
}

bool values_are_usable(os_env& env, const dump_command& command, const std::string& dump_file,
                       os_error* error) {
  for (const std::string& argument : command.arguments)
    if (!env.text_is_usable(argument, error)) return false;
  // A NUL byte would end the password where the tool reads the option file.
  return env.text_is_usable(command.option_file, error) && env.text_is_usable(dump_file, error);
}
