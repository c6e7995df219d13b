// The mysqldump command that every backup runs, and where its dump goes.
#ifndef AUTODUMP_BACKUP_DUMP_COMMAND_H_
#define AUTODUMP_BACKUP_DUMP_COMMAND_H_

#include <functional>
#include <string>
#include <vector>

#include "settings/backup_settings.h"

// The program that makes the dump, looked for as a shell looks for a command.
constexpr char dump_tool_name[] = "mysqldump";
// Its name from MariaDB 11 on, which warns at each start under the old one.
constexpr char dump_tool_new_name[] = "mariadb-dump";

// What to start as the dump tool, given how programs are found (find_program):
// the full path of mariadb-dump where it stands in the folder of the mysqldump
// that would be found, or where no mysqldump is found at all; otherwise of that
// mysqldump; dump_tool_name where neither is found.
std::string dump_tool_to_start(const std::function<std::string(const std::string&)>& find);

// The dump tool's name, then its arguments.
struct dump_command {
  std::vector<std::string> arguments;
};

// What the dump file's name always ends in.
constexpr char dump_file_suffix[] = ".sql";

// save_dir + save_file_name + ".sql", as typed.
std::string dump_file_path(const backup_settings& settings);

// Where a dump that is to replace `target` is written until it has succeeded:
// beside it, so that moving it there is one atomic rename.
std::string temp_file_path(const std::string& target);

// `tool`, "-h<server>", "-u<user>", "-p<password>", "<database>": the values
// exactly as typed, each one argument. A database name that begins with "-"
// gets "--" before it, so that it is not read as an option. A copy: later
// changes to the settings do not reach it.
dump_command build_dump_command(const backup_settings& settings,
                                const std::string& tool = dump_tool_name);

// The same connection in a mode that reads the schema only and locks nothing:
// a cheap proof that the connection values work.
dump_command build_check_command(const backup_settings& settings,
                                 const std::string& tool = dump_tool_name);

// "" when the system can take every typed value in `command` and `dump_file`;
// otherwise its reason why not (a NUL byte would cut an argument short).
std::string unusable_text(const dump_command& command, const std::string& dump_file = "");

#endif  // AUTODUMP_BACKUP_DUMP_COMMAND_H_
