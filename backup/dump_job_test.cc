#include "backup/dump_job.h"

#include <gtest/gtest.h>
#include <unistd.h>

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
  dump_command writing(const std::string& content, const std::string& then = "true") {
    return {"printf %s " + shell_quote(content) + " > " + shell_quote(paths_.temp_file) + "; " +
                then,
            {}};
  }
  std::string contents(const fs::path& path) {
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
  EXPECT_EQ(result.outcome, dump_outcome::saved);
  EXPECT_EQ(contents(paths_.dump_file), "new dump");
  EXPECT_FALSE(fs::exists(paths_.temp_file));
  EXPECT_EQ(permissions(paths_.dump_file), fs::perms::owner_read | fs::perms::owner_write);

  fs::permissions(paths_.dump_file, fs::perms::owner_read | fs::perms::owner_write |
                                        fs::perms::group_read);
  EXPECT_EQ(run_dump(writing("newer dump"), paths_).outcome, dump_outcome::saved);
  EXPECT_EQ(contents(paths_.dump_file), "newer dump");
  EXPECT_EQ(permissions(paths_.dump_file),
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

TEST_F(DumpJob, FailureKeepsTheLastDumpAndLeavesNoTemporaryFile) {
  const std::pair<dump_command, int> failures[] = {
      {writing("half a dump", "exit 3"), 3},
      {writing("half a dump", "kill -KILL $$"), 128 + 9},
      {{"exit 2", {}}, 2},
  };
  for (const auto& [command, status] : failures) {
    keep_good_dump();
    dump_result result = run_dump(command, paths_);
    EXPECT_EQ(result.outcome, dump_outcome::tool_failed) << command.shell_line;
    EXPECT_EQ(result.exit_status, status) << command.shell_line;
    EXPECT_EQ(contents(paths_.dump_file), "good dump") << command.shell_line;
    EXPECT_FALSE(fs::exists(paths_.temp_file)) << command.shell_line;
  }
}

TEST_F(DumpJob, NothingRunsWhereTheTemporaryFileCannotBeMade) {
  dump_paths missing = {(dir_ / "no/db.sql").string(), (dir_ / "no/db.sql.part").string()};
  dump_result result = run_dump({"touch " + shell_quote((dir_ / "ran").string()), {}}, missing);
  EXPECT_EQ(result.outcome, dump_outcome::not_saved);
  EXPECT_EQ(result.error, missing.temp_file + ": No such file or directory");
  EXPECT_FALSE(fs::exists(dir_ / "ran"));
  EXPECT_FALSE(fs::exists(dir_ / "no"));
}

TEST_F(DumpJob, ANulByteInAValueTouchesNoFile) {
  std::ofstream(dir_ / "victim") << "precious";
  backup_settings s;
  s.save_dir = dir_.string() + "/";
  s.save_file_name = std::string("victim\0", 7);
  EXPECT_EQ(run_dump(build_dump_command(s), dump_paths_for(s)).outcome, dump_outcome::not_saved);
  EXPECT_EQ(contents(dir_ / "victim"), "precious");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);
}

TEST_F(DumpJob, AnotherProgramsDumpIsLeftAlone) {
  keep_good_dump();
  temp_file theirs;
  std::string error;
  ASSERT_EQ(create_temp_file(paths_.temp_file, &theirs, &error), claim_status::claimed) << error;
  std::ofstream(paths_.temp_file) << "their dump";
  EXPECT_EQ(run_dump(writing("mine"), paths_).outcome, dump_outcome::busy);
  EXPECT_EQ(contents(paths_.temp_file), "their dump");
  EXPECT_EQ(contents(paths_.dump_file), "good dump");
  discard_temp_file(&theirs);
}

TEST_F(DumpJob, TheTemporaryFileIsAlwaysFreshAndPrivate) {
  // A leftover readable by all, and the old dump's bits, must not reach the
  // file while the dump is written into it.
  std::ofstream(paths_.temp_file) << "leftover";
  fs::permissions(paths_.temp_file, fs::perms::all);
  keep_good_dump();
  fs::permissions(paths_.dump_file, fs::perms::set_uid | fs::perms::owner_read |
                                        fs::perms::group_read | fs::perms::others_read);
  std::string check_mode = "[ \"$(stat -c %a " + shell_quote(paths_.temp_file) + ")\" = 600 ]";
  EXPECT_EQ(run_dump(writing("new dump", check_mode), paths_).outcome, dump_outcome::saved);
  EXPECT_EQ(contents(paths_.dump_file), "new dump");
  EXPECT_EQ(permissions(paths_.dump_file),
            fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
}

TEST_F(DumpJob, RootGivesTheNewDumpTheOldOwner) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to hand a file to another account";
  keep_good_dump();
  ASSERT_EQ(chown(paths_.dump_file.c_str(), 65534, 65534), 0);
  EXPECT_EQ(run_dump(writing("new dump"), paths_).outcome, dump_outcome::saved);
  struct stat st;
  ASSERT_EQ(stat(paths_.dump_file.c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, 65534u);
  EXPECT_EQ(st.st_gid, 65534u);
}

TEST_F(DumpJob, AnotherAccountsFileInASharedDirectoryIsNeitherUsedNorRemoved) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to act as two accounts";
  fs::permissions(dir_, fs::perms::all | fs::perms::sticky_bit);
  std::ofstream(paths_.temp_file) << "theirs";
  ASSERT_EQ(chown(paths_.temp_file.c_str(), 65533, 65533), 0);
  fs::permissions(paths_.temp_file, fs::perms::all);
  EXPECT_EXIT(
      {
        if (setgid(65534) != 0 || setuid(65534) != 0) std::exit(2);
        dump_result result = run_dump(writing("mine"), paths_);
        std::exit(result.outcome == dump_outcome::not_saved &&
                          result.error == paths_.temp_file + ": Operation not permitted"
                      ? 0
                      : 1);
      },
      ::testing::ExitedWithCode(0), "");
  EXPECT_EQ(contents(paths_.temp_file), "theirs");
  EXPECT_FALSE(fs::exists(paths_.dump_file));
}

TEST_F(DumpJob, InheritedIgnoredSignalsStayIgnored) {
  // As under nohup, and under a parent that ignores its children's ends.
  EXPECT_EXIT(
      {
        std::signal(SIGHUP, SIG_IGN);
        std::signal(SIGCHLD, SIG_IGN);
        dump_result result = run_dump(writing("dump", "kill -HUP $PPID"), paths_);
        std::exit(result.outcome == dump_outcome::saved ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
  EXPECT_EQ(contents(paths_.dump_file), "dump");
}

TEST_F(DumpJob, InterruptEndsTheProgramAfterTidyingUp) {
  keep_good_dump();
  dump_command command = writing("partial", "kill -INT $PPID; sleep 1; echo more >> " +
                                                shell_quote(paths_.temp_file));
  EXPECT_EXIT(run_dump(command, paths_), ::testing::KilledBySignal(SIGINT), "");
  EXPECT_EQ(contents(paths_.dump_file), "good dump");
  EXPECT_FALSE(fs::exists(paths_.temp_file));

  // A complete dump that the tool finished before taking the signal is kept.
  command = writing("complete", "trap '' INT; kill -INT $PPID");
  EXPECT_EXIT(run_dump(command, paths_), ::testing::KilledBySignal(SIGINT), "");
  EXPECT_EQ(contents(paths_.dump_file), "complete");
  EXPECT_FALSE(fs::exists(paths_.temp_file));
}

}  // namespace
