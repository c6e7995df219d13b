// One backup: the dump command run, and its output put in place of the last
// dump only when it succeeded.
#ifndef AUTODUMP_BACKUP_DUMP_JOB_H_
#define AUTODUMP_BACKUP_DUMP_JOB_H_

#include <string>

#include "backup/dump_command.h"

struct dump_result {
  int exit_status;  // of the command; 0 when it succeeded
  // Set when the command succeeded but its output could not replace the dump
  // file: the OS's description of what failed.
  std::string save_error;

  bool succeeded() const { return exit_status == 0 && save_error.empty(); }
};

// Runs `command`, which must write the dump to paths.temp_file. On success the
// dump replaces paths.dump_file; otherwise the dump file stays as it was. No
// temporary file remains either way. A new dump file is readable by its owner
// only; an existing one keeps its permissions. An interrupt that arrives
// meanwhile ends the process, after the temporary file has been removed.
dump_result run_dump(const std::string& command, const dump_paths& paths);

#endif  // AUTODUMP_BACKUP_DUMP_JOB_H_
