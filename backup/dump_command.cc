#include "backup/dump_command.h"

#include "backup/shell_quote.h"

namespace {

constexpr char kTempSuffix[] = ".part";

}  // namespace

dump_paths dump_paths_for(const backup_settings& settings) {
  std::string dump_file = settings.save_dir + settings.save_file_name + dump_file_suffix;
  return {dump_file, dump_file + kTempSuffix};
}

std::string build_dump_command(const backup_settings& settings) {
  return "mysqldump -h" + shell_quote(settings.server_address) +  //
         " -u" + shell_quote(settings.db_user) +                 //
         " -p" + shell_quote(settings.db_password) +             //
         " " + shell_quote(settings.db_name) +                   //
         " > " + shell_quote(settings.save_dir) + shell_quote(settings.save_file_name) +
         dump_file_suffix + kTempSuffix;
}
