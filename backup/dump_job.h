// One backup: the dump tool run, and its output put in place of the last
// dump only when it succeeded.
#ifndef AUTODUMP_BACKUP_DUMP_JOB_H_
#define AUTODUMP_BACKUP_DUMP_JOB_H_

#include <string>

#include "backup/dump_command.h"

enum class dump_outcome {
  saved,        // the new dump is in place
  tool_failed,  // the dump tool ended with a status other than 0
  not_saved,    // the dump could not be written or put in place
  busy,         // another program is writing the same dump file
};

struct dump_result {
  dump_outcome outcome;
  int exit_status = 0;  // of the dump tool, when it ran
  std::string error{};  // not_saved: the OS's description of what failed
};

// Runs `command`, which must write the dump to paths.temp_file, and puts the
// dump in place of paths.dump_file only when the tool succeeded; otherwise the
// dump file stays as it was. No temporary file remains either way, and nothing
// of another program's backup to the same file is touched. A signal that ends
// the program meanwhile ends the dump tool too, then, once the temporary file
// is gone, the program.
dump_result run_dump(const dump_command& command, const dump_paths& paths);

#endif  // AUTODUMP_BACKUP_DUMP_JOB_H_
