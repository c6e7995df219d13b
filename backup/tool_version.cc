#include "backup/tool_version.h"

#include <tuple>

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// "8.0.36" at the start of `text`, three numbers of at most four digits each.
bool read_version(std::string_view text, tool_version* version) {
  int parts[3] = {};
  std::size_t at = 0;
  for (int i = 0; i < 3; ++i) {
    if (i > 0 && (at >= text.size() || text[at++] != '.')) return false;
    const std::size_t first = at;
    for (; at < text.size() && is_digit(text[at]) && at - first < 4; ++at)
      parts[i] = parts[i] * 10 + (text[at] - '0');
    if (at == first) return false;
  }
  version->major = parts[0];
  version->minor = parts[1];
  version->patch = parts[2];
  return true;
}

// The version that ends at `end` of `text` ("10.11.6" of "10.11.6-MariaDB").
std::string_view version_before(std::string_view text, std::size_t end) {
  std::size_t start = end;
  while (start > 0 && (is_digit(text[start - 1]) || text[start - 1] == '.'))
    --start;
  return text.substr(start, end - start);
}

}  // namespace

bool tool_version::at_least(tool_family of, int at_major, int at_minor, int at_patch) const {
  return family == of &&
         std::tie(major, minor, patch) >= std::tie(at_major, at_minor, at_patch);
}

tool_version parse_tool_version(std::string_view answer) {
  tool_version version;
  if (std::size_t mariadb = answer.find("-MariaDB"); mariadb != std::string_view::npos) {
    if (read_version(version_before(answer, mariadb), &version))
      version.family = tool_family::mariadb;
    return version;
  }
  // MySQL 5.7 and before: "Ver 10.13 Distrib 5.7.44"; 8.0 and after: "Ver 8.0.36".
  for (std::string_view mark : {" Distrib ", " Ver "}) {
    std::size_t at = answer.find(mark);
    if (at == std::string_view::npos) continue;
    if (read_version(answer.substr(at + mark.size()), &version) && version.major >= 5)
      version.family = tool_family::mysql;
    return version;
  }
  return version;
}

std::vector<std::string> version_query() { return {"--no-defaults", "--version"}; }

std::vector<std::string> family_options(const tool_version& version) {
  if (version.family == tool_family::unknown) return {};
  // A single database's dump needs no tablespace statements (both families).
  std::vector<std::string> options = {"--no-tablespaces"};
  // Without it MySQL's tools write GTID_PURGED and SQL_LOG_BIN=0 into a dump
  // that then fails to restore into its own server, and take a global read
  // lock for the GTID position under --single-transaction.
  if (version.at_least(tool_family::mysql, 5, 6, 9)) options.push_back("--set-gtid-purged=OFF");
  // MySQL 8's tools read histogram statistics that MariaDB and MySQL 5.7
  // servers do not have, and fail on them.
  if (version.at_least(tool_family::mysql, 8, 0, 0)) options.push_back("--column-statistics=0");
  return options;
}

std::vector<std::string> quiet_options(const tool_version& version) {
  std::vector<std::string> options = {"--no-data", "--skip-lock-all-tables", "--skip-flush-logs",
                                      "--skip-flush-privileges"};
  // MySQL 8.0.26 renamed these, and warns at each use of the old names.
  if (version.at_least(tool_family::mysql, 8, 0, 26))
    options.insert(options.end(),
                   {"--source-data=0", "--dump-replica=0", "--skip-delete-source-logs"});
  else
    options.insert(options.end(),
                   {"--master-data=0", "--dump-slave=0", "--skip-delete-master-logs"});
  return options;
}
