// The mysqldump command that every backup runs.
#ifndef AUTODUMP_BACKUP_DUMP_COMMAND_H_
#define AUTODUMP_BACKUP_DUMP_COMMAND_H_

#include <string>

#include "platform/platform.h"
#include "settings/backup_settings.h"

// What the dump file's name always ends in.
constexpr char dump_file_suffix[] = ".sql";

struct dump_paths {
  std::string dump_file;  // save_dir + save_file_name + ".sql"
  // Where a dump is written until it has succeeded; beside the dump file, so
  // that moving it there is one atomic rename.
  std::string temp_file;
};

dump_paths dump_paths_for(const backup_settings& settings);

// The shell line "exec mysqldump -h<server> -u<user> -p<password> <database> >
// <temp file>", each value quoted for the shell where it needs it, and the
// same arguments after "mysqldump" as an argument list. A database name
// that begins with "-" gets "--" before it, so that it is not read as an
// option. A copy: later changes to the settings do not reach it.
dump_command build_dump_command(const backup_settings& settings);

// Whether any typed value in `command` holds a NUL byte, which would cut a
// path or an argument short.
bool holds_nul_byte(const dump_command& command);

#endif  // AUTODUMP_BACKUP_DUMP_COMMAND_H_
