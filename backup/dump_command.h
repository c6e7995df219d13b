// The mysqldump command line that every backup hands to the command processor.
#ifndef AUTODUMP_BACKUP_DUMP_COMMAND_H_
#define AUTODUMP_BACKUP_DUMP_COMMAND_H_

#include <string>

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

// "mysqldump -h<server> -u<user> -p<password> <database> > <temp file>", each
// value quoted for the shell where it needs it. A copy: later changes to the
// settings do not reach it.
std::string build_dump_command(const backup_settings& settings);

#endif  // AUTODUMP_BACKUP_DUMP_COMMAND_H_
