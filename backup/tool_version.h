// Which dump tool is installed, told from its answer to --version, so that
// every command line holds only options that this tool takes without a word.
#ifndef AUTODUMP_BACKUP_TOOL_VERSION_H_
#define AUTODUMP_BACKUP_TOOL_VERSION_H_

#include <string>
#include <string_view>
#include <vector>

enum class tool_family { unknown, mysql, mariadb };

struct tool_version {
  tool_family family = tool_family::unknown;
  int major = 0, minor = 0, patch = 0;

  // Whether this is `family` at `major`.`minor`.`patch` or later.
  bool at_least(tool_family of, int at_major, int at_minor, int at_patch) const;
};

// The tool's family and version from its answer to --version, such as
// "mysqldump  Ver 8.0.36 for Linux on x86_64 (MySQL Community Server - GPL)",
// "mysqldump  Ver 10.13 Distrib 5.7.44, for Linux (x86_64)",
// "mysqldump  Ver 10.19 Distrib 10.11.6-MariaDB, for debian-linux-gnu (x86_64)" or
// "mariadb-dump from 11.4.2-MariaDB, client 10.19 for Linux (x86_64)";
// family unknown for any other answer.
tool_version parse_tool_version(std::string_view answer);

// The arguments after the tool's name that ask it for its version: at once,
// without connecting and without reading an option file that could fail it.
std::vector<std::string> version_query();

// The options every run of this tool gets: dumps that restore into the
// server they came from and need no PROCESS privilege; none for an unknown tool.
std::vector<std::string> family_options(const tool_version& version);

// The options that keep a check from locking, flushing or recording anything
// on the server, in the forms this tool takes without a deprecation warning.
std::vector<std::string> quiet_options(const tool_version& version);

#endif  // AUTODUMP_BACKUP_TOOL_VERSION_H_
