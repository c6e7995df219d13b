#include "backup/dump_job.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "backup/shell_quote.h"
#include "tests/temp_dir.h"

namespace {

namespace fs = std::filesystem;

class DumpJob : public ::testing::Test {
 protected:
  void SetUp() override {
    paths_ = {(dir_ / "db.sql").string(), (dir_ / "db.sql.part").string()};
  }

  // A command that writes `content` where the dump goes, then runs `then`.
  std::string writing(const std::string& content, const std::string& then = "true") {
    return "printf %s " + shell_quote(content) + " > " + shell_quote(paths_.temp_file) + "; " +
           then;
  }
  std::string contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }
  void keep_good_dump() { std::ofstream(paths_.dump_file) << "good dump"; }
  fs::perms permissions(const std::string& path) {
    return fs::status(path).permissions() & fs::perms::mask;
  }

  temp_dir temp_;
  const fs::path& dir_ = temp_.path;
  dump_paths paths_;
};

TEST_F(DumpJob, SuccessReplacesTheDumpPrivately) {
  dump_result result = run_dump(writing("new dump"), paths_);
  EXPECT_TRUE(result.succeeded());
  EXPECT_EQ(contents(paths_.dump_file), "new dump");
  EXPECT_FALSE(fs::exists(paths_.temp_file));
  EXPECT_EQ(permissions(paths_.dump_file), fs::perms::owner_read | fs::perms::owner_write);

  fs::permissions(paths_.dump_file, fs::perms::owner_read | fs::perms::owner_write |
                                        fs::perms::group_read);
  EXPECT_TRUE(run_dump(writing("newer dump"), paths_).succeeded());
  EXPECT_EQ(contents(paths_.dump_file), "newer dump");
  EXPECT_EQ(permissions(paths_.dump_file),
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

TEST_F(DumpJob, FailureKeepsTheLastDumpAndLeavesNoTemporaryFile) {
  const std::pair<std::string, int> failures[] = {
      {writing("half a dump", "exit 3"), 3},
      {writing("half a dump", "kill -KILL $$"), 128 + 9},
      {"exit 2", 2},
  };
  for (const auto& [command, status] : failures) {
    keep_good_dump();
    dump_result result = run_dump(command, paths_);
    EXPECT_EQ(result.exit_status, status) << command;
    EXPECT_FALSE(result.succeeded());
    EXPECT_EQ(contents(paths_.dump_file), "good dump") << command;
    EXPECT_FALSE(fs::exists(paths_.temp_file)) << command;
  }
}

TEST_F(DumpJob, MissingDirectoryFailsWithTheShellsStatus) {
  dump_paths missing = {(dir_ / "no/db.sql").string(), (dir_ / "no/db.sql.part").string()};
  dump_result result =
      run_dump("echo dump > " + shell_quote(missing.temp_file) + " 2>/dev/null", missing);
  EXPECT_NE(result.exit_status, 0);
  EXPECT_FALSE(fs::exists(dir_ / "no"));
}

TEST_F(DumpJob, InterruptEndsTheProgramAfterTidyingUp) {
  keep_good_dump();
  std::string command = writing("partial", "kill -INT $PPID; sleep 1; echo more >> " +
                                               shell_quote(paths_.temp_file));
  EXPECT_EXIT(run_dump(command, paths_), ::testing::KilledBySignal(SIGINT), "");
  EXPECT_EQ(contents(paths_.dump_file), "good dump");
  EXPECT_FALSE(fs::exists(paths_.temp_file));
}

}  // namespace
