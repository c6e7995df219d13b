// The mysqldump command that every backup runs, and where its dump goes.
#ifndef AUTODUMP_BACKUP_DUMP_COMMAND_H_
#define AUTODUMP_BACKUP_DUMP_COMMAND_H_

#include <string>
#include <vector>

#include "backup/os_env.h"
#include "backup/tool_version.h"
#include "settings/backup_settings.h"

// The program that makes the dump, looked for as a shell looks for a command.
constexpr char dump_tool_name[] = "mysqldump";
// Its name from MariaDB 11 on, which warns at each start under the old one.
constexpr char dump_tool_new_name[] = "mariadb-dump";

// What to start as the dump tool, as env.find_program() finds programs:
// the full path of mariadb-dump where it stands in the folder of the mysqldump
// that would be found, or where no mysqldump is found at all; otherwise of that
// mysqldump; dump_tool_name where neither is found.
std::string dump_tool_to_start(os_env& env);

// The dump tool to start (see dump_tool_to_start()), and what it is.
struct dump_tool {
  std::string path = dump_tool_name;
  tool_version version{};
};

// The dump tool's name, then its arguments; and what it is to read from an
// option file named first on its command line ("" for none), which keeps the
// password off every command line.
struct dump_command {
  std::vector<std::string> arguments;
  std::string option_file{};
};

// What the dump file's name always ends in.
constexpr char dump_file_suffix[] = ".sql";

// save_dir + save_file_name + ".sql", as typed.
std::string dump_file_path(const backup_settings& settings);

// Where a dump that is to replace `target` is written until it has succeeded:
// beside it, so that moving it there is one atomic rename.
std::string temp_file_path(const std::string& target);

// The option file that gives the tool `password`, read back by both families'
// tools as exactly the bytes typed.
std::string option_file_with_password(const std::string& password);

// The tool, "-h<server>", "-u<user>", the options for this tool
// (family_options()) and "<database>": the values exactly as typed, each one
// argument, and the password in the option file. A database name that begins
// with "-" gets "--" before it, so that it is not read as an option. A copy:
// later changes to the settings do not reach it.
dump_command build_dump_command(const backup_settings& settings, const dump_tool& tool = {});

// The same connection in a mode that reads the schema only and locks, flushes
// and records nothing on the server: a cheap proof that the connection values
// work.
dump_command build_check_command(const backup_settings& settings, const dump_tool& tool = {});

// The schema of `table` alone, with the table lock the dump takes where the
// dump takes one: a proof that the account may lock what the dump locks, that
// locks one table at the most.
dump_command build_lock_check_command(const backup_settings& settings, const dump_tool& tool,
                                      const std::string& table);

// The tool asked for its version.
dump_command build_version_command(const dump_tool& tool);

// Whether the system can take every typed value in `command` and `dump_file`;
// where not, `error` says why (a NUL byte would cut an argument short).
bool values_are_usable(os_env& env, const dump_command& command, const std::string& dump_file,
                       os_error* error);

#endif  // AUTODUMP_BACKUP_DUMP_COMMAND_H_
