#include "backup/dump_job.h"

#include "platform/platform.h"

dump_result run_dump(const std::string& command, const dump_paths& paths) {
  // The shell's redirection keeps the permission bits of the file it truncates.
  create_private_file(paths.temp_file, paths.dump_file);
  command_result ran = run_command(command);
  if (ran.held_signal != 0) {
    remove_file(paths.temp_file);
    end_by_signal(ran.held_signal);
  }
  dump_result result{ran.exit_status, ""};
  if (result.exit_status == 0) result.save_error = replace_file(paths.temp_file, paths.dump_file);
  if (!result.succeeded()) remove_file(paths.temp_file);
  return result;
}
