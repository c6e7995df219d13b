#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <new>

#include "backup/dump_job.h"
#include "tests/temp_dir.h"

namespace {

namespace fs = std::filesystem;

constexpr int64_t kNoDeadline = INT64_MAX;

class DumpJobOnPosix : public ::testing::Test {
 protected:
  // A command that writes `content` as its dump, then runs `then`.
  static dump_command writing(const std::string& content, const std::string& then = "true") {
    return {{"sh", "-c", "printf %s \"$1\"; " + then, "sh", content}};
  }
  dump_result run(const dump_command& command, int64_t deadline_ms = kNoDeadline) {
    // As the scheduler does: the backup is told, then the program ends.
    dump_result result = run_dump(system_env(), command, dump_file_, deadline_ms);
    if (result.signal != 0) end_by_signal(result.signal);
    return result;
  }
  static std::string contents(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }
  void keep_good_dump() { std::ofstream(dump_file_) << "good dump"; }
  static fs::perms permissions(const std::string& path) {
    return fs::status(path).permissions() & fs::perms::mask;
  }
  int entries() { return std::distance(fs::directory_iterator(dir_), fs::directory_iterator()); }

  temp_dir temp_;
  const fs::path& dir_ = temp_.path;
  const std::string dump_file_ = (dir_ / "db.sql").string();
  const std::string temp_file_ = temp_file_path(dump_file_);
};

TEST_F(DumpJobOnPosix, SuccessReplacesTheDumpPrivately) {
  dump_result result = run(writing("new dump"));
  EXPECT_EQ(result.outcome, dump_outcome::saved);
  EXPECT_EQ(contents(dump_file_), "new dump");
  EXPECT_FALSE(fs::exists(temp_file_));
  EXPECT_EQ(permissions(dump_file_), fs::perms::owner_read | fs::perms::owner_write);

  fs::permissions(dump_file_,
                  fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  EXPECT_EQ(run(writing("newer dump")).outcome, dump_outcome::saved);
  EXPECT_EQ(contents(dump_file_), "newer dump");
  EXPECT_EQ(permissions(dump_file_),
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

TEST_F(DumpJobOnPosix, FailureKeepsTheLastDumpAndLeavesNoTemporaryFile) {
  const std::pair<dump_command, int> failures[] = {
      {writing("half a dump", "exit 3"), 3},
      {writing("half a dump", "kill -KILL $$"), 128 + 9},
      {{{"autodump-no-such-tool"}}, 127},
  };
  for (const auto& [command, status] : failures) {
    keep_good_dump();
    dump_result result = run(command);
    EXPECT_EQ(result.outcome, dump_outcome::tool_failed) << command.arguments.back();
    EXPECT_EQ(result.exit_status, status) << command.arguments.back();
    EXPECT_EQ(contents(dump_file_), "good dump") << command.arguments.back();
    EXPECT_FALSE(fs::exists(temp_file_)) << command.arguments.back();
  }
}

TEST_F(DumpJobOnPosix, AThrowMidDumpLeavesNoTemporaryFileNoToolAndNoSignalBlocked) {
  keep_good_dump();
  const std::string pid_file = (dir_ / "tool.pid").string();
  auto out_of_memory = [](int64_t, int64_t) { throw std::bad_alloc(); };
  EXPECT_THROW(run_dump(system_env(), writing("partial", "echo $$ > " + pid_file + "; sleep 30"),
                        dump_file_, kNoDeadline, out_of_memory),
               std::bad_alloc);
  EXPECT_EQ(contents(dump_file_), "good dump");
  EXPECT_FALSE(fs::exists(temp_file_));
  pid_t tool = 0;
  std::ifstream(pid_file) >> tool;
  ASSERT_GT(tool, 0);
  EXPECT_EQ(kill(tool, 0), -1) << "the tool outlived the dump";
  sigset_t blocked;
  sigprocmask(SIG_BLOCK, nullptr, &blocked);
  EXPECT_FALSE(sigismember(&blocked, SIGTERM));
  EXPECT_FALSE(sigismember(&blocked, SIGINT));
}

TEST_F(DumpJobOnPosix, NothingRunsWhereTheTemporaryFileCannotBeMade) {
  std::string missing = (dir_ / "no/db.sql").string();
  dump_result result =
      run_dump(system_env(), {{"touch", (dir_ / "ran").string()}}, missing, kNoDeadline);
  EXPECT_EQ(result.outcome, dump_outcome::not_saved);
  EXPECT_EQ(error_text(result.error), missing + ".part: No such file or directory");
  EXPECT_FALSE(fs::exists(dir_ / "ran"));
  EXPECT_FALSE(fs::exists(dir_ / "no"));
}

TEST_F(DumpJobOnPosix, ANulByteInAValueTouchesNoFile) {
  std::ofstream(dir_ / "victim") << "precious";
  backup_settings s;
  s.save_dir = dir_.string() + "/";
  s.save_file_name = std::string("victim\0", 7);
  EXPECT_EQ(run_dump(system_env(), writing("dump"), dump_file_path(s), kNoDeadline).outcome,
            dump_outcome::not_saved);
  s.db_password = std::string("\0", 1);
  EXPECT_EQ(run(build_dump_command(s)).outcome, dump_outcome::not_saved);
  EXPECT_EQ(contents(dir_ / "victim"), "precious");
  EXPECT_EQ(entries(), 1);
}

TEST_F(DumpJobOnPosix, AnotherProgramsDumpIsLeftAlone) {
  keep_good_dump();
  temp_file theirs;
  os_error error;
  ASSERT_TRUE(create_temp_file(temp_file_, &theirs, &error)) << error_text(error);
  std::ofstream(temp_file_) << "their dump";
  EXPECT_EQ(run(writing("mine")).outcome, dump_outcome::busy);
  EXPECT_EQ(contents(temp_file_), "their dump");
  EXPECT_EQ(contents(dump_file_), "good dump");
  discard_temp_file(&theirs);
}

TEST_F(DumpJobOnPosix, TheTemporaryFileIsAlwaysFreshAndPrivate) {
  // A leftover readable by all, and the old dump's bits, must not reach the
  // file while the dump is written into it.
  std::ofstream(temp_file_) << "leftover";
  fs::permissions(temp_file_, fs::perms::all);
  keep_good_dump();
  fs::permissions(dump_file_, fs::perms::set_uid | fs::perms::owner_read | fs::perms::group_read |
                                  fs::perms::others_read);
  std::string check_mode = "[ \"$(stat -L -c %a /proc/$$/fd/1)\" = 600 ]";
  EXPECT_EQ(run(writing("new dump", check_mode)).outcome, dump_outcome::saved);
  EXPECT_EQ(contents(dump_file_), "new dump");
  EXPECT_EQ(permissions(dump_file_),
            fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
}

TEST_F(DumpJobOnPosix, OnlyATrustedOldDumpHandsOnItsOwnerGroupAndMode) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to hand a file to another account";
  struct stat st;
  // Root's own, shared with a group: the new dump is shared with it too.
  keep_good_dump();
  ASSERT_EQ(chown(dump_file_.c_str(), 0, 65534), 0);
  fs::permissions(dump_file_,
                  fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  dump_result result = run(writing("new dump"));
  EXPECT_EQ(result.outcome, dump_outcome::saved);
  EXPECT_FALSE(result.rights_not_taken);
  ASSERT_EQ(stat(dump_file_.c_str(), &st), 0);
  EXPECT_EQ(st.st_gid, 65534u);
  EXPECT_EQ(st.st_mode & 07777, 0640u);

  // Another account's, readable and writable by all: the new dump must become
  // neither that account's nor everyone's.
  ASSERT_EQ(chown(dump_file_.c_str(), 65534, 65534), 0);
  fs::permissions(dump_file_, fs::perms::all);
  result = run(writing("newer dump"));
  EXPECT_EQ(result.outcome, dump_outcome::saved);
  ASSERT_TRUE(result.rights_not_taken);
  EXPECT_EQ(result.rights_not_taken->kind, error_kind::foreign);
  EXPECT_EQ(result.rights_not_taken->path, dump_file_);
  EXPECT_EQ(contents(dump_file_), "newer dump");
  ASSERT_EQ(stat(dump_file_.c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, 0u);
  EXPECT_EQ(st.st_gid, 0u);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
}

TEST_F(DumpJobOnPosix, AnotherAccountsFileInASharedDirectoryIsNeitherUsedNorRemoved) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to act as two accounts";
  fs::permissions(dir_, fs::perms::all | fs::perms::sticky_bit);
  std::ofstream(temp_file_) << "theirs";
  ASSERT_EQ(chown(temp_file_.c_str(), 65533, 65533), 0);
  fs::permissions(temp_file_, fs::perms::all);
  EXPECT_EXIT(
      {
        if (setgid(65534) != 0 || setuid(65534) != 0) std::exit(2);
        dump_result result = run(writing("mine"));
        std::exit(result.outcome == dump_outcome::not_saved &&
                          error_text(result.error) == temp_file_ + ": Operation not permitted"
                      ? 0
                      : 1);
      },
      ::testing::ExitedWithCode(0), "");
  EXPECT_EQ(contents(temp_file_), "theirs");
  EXPECT_FALSE(fs::exists(dump_file_));
}

TEST_F(DumpJobOnPosix, InheritedIgnoredSignalsStayIgnored) {
  // As under nohup, and under a parent that ignores its children's ends.
  EXPECT_EXIT(
      {
        std::signal(SIGHUP, SIG_IGN);
        std::signal(SIGCHLD, SIG_IGN);
        dump_result result = run(writing("dump", "kill -HUP $PPID"));
        std::exit(result.outcome == dump_outcome::saved ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
  EXPECT_EQ(contents(dump_file_), "dump");
}

TEST_F(DumpJobOnPosix, WhatTheToolStartedIsWaitedForWhereverItWent) {
  // Children that left the tool's process group (setsid, a shell's job
  // control) and write once the tool has ended: the dump holds their lines.
  for (const char* escape : {"setsid sh -c 'sleep 0.3; printf late' &",
                             "bash -c 'set -m; (sleep 0.3; printf late) &'"}) {
    EXPECT_EQ(run(writing("early", escape)).outcome, dump_outcome::saved) << escape;
    EXPECT_EQ(contents(dump_file_), "earlylate") << escape;
  }
}

TEST_F(DumpJobOnPosix, AnEscapedChildIsEndedWithTheToolAndLeavesNoZombie) {
  const std::string pid_file = (dir_ / "child.pid").string();
  dump_command command =
      writing("partial", "setsid sh -c 'echo $$ > " + pid_file + "; exec sleep 30' & sleep 30");
  dump_result result = run(command, monotonic_milliseconds() + 500);
  EXPECT_EQ(result.outcome, dump_outcome::overran);
  pid_t child = 0;
  std::ifstream(pid_file) >> child;
  ASSERT_GT(child, 0);
  EXPECT_EQ(kill(child, 0), -1) << "the escaped child still runs";
  EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1) << "a child is left to reap";
}

TEST_F(DumpJobOnPosix, AChildTheProgramHadBeforeIsNeitherWaitedForNorSignalled) {
  // As `autodump > >(logger)` makes the logger a child of the program.
  pid_t reader = fork();
  if (reader == 0) {
    execlp("sleep", "sleep", "30", static_cast<char*>(nullptr));
    _exit(127);
  }
  ASSERT_GT(reader, 0);
  const int64_t started_ms = monotonic_milliseconds();
  EXPECT_EQ(run(writing("dump"), started_ms + 5000).outcome, dump_outcome::saved);
  EXPECT_LT(monotonic_milliseconds() - started_ms, 3000) << "waited for the earlier child";
  EXPECT_EQ(kill(reader, 0), 0) << "the earlier child was ended";
  kill(reader, SIGKILL);
  waitpid(reader, nullptr, 0);
}

TEST_F(DumpJobOnPosix, AGoneReaderEndsNeitherTheProgramNorTheToolsWay) {
  EXPECT_EXIT(
      {
        // Standard output into a pipe whose reader is gone, then into a file:
        // the program lives on, and the next line is written.
        survive_closed_pipes();
        int ends[2];
        if (pipe(ends) != 0 || close(ends[0]) != 0 || dup2(ends[1], STDOUT_FILENO) < 0)
          std::exit(2);
        write_output("lost\n");
        const std::string log = (dir_ / "log").string();
        int file = open(log.c_str(), O_WRONLY | O_CREAT, 0600);
        if (file < 0 || dup2(file, STDOUT_FILENO) < 0) std::exit(3);
        write_output("after the reader\n");
        if (contents(log) != "after the reader\n") std::exit(5);
        // The tool gets SIGPIPE as it was given to this program: not ignored.
        run({{"sh", "-c", "sed -n 's/^SigIgn:[[:space:]]*//p' /proc/$$/status"}});
        unsigned long long ignored = std::stoull(contents(dump_file_), nullptr, 16);
        std::exit(ignored & (1ULL << (SIGPIPE - 1)) ? 4 : 0);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST_F(DumpJobOnPosix, OnlyARegularDumpFileHasAnAgeForTheSchedule) {
  int64_t age_ms = -1;
  EXPECT_FALSE(modified_ago(dump_file_, &age_ms)) << "nothing there";
  keep_good_dump();
  fs::last_write_time(dump_file_, fs::file_time_type::clock::now() - std::chrono::hours(5));
  fs::create_symlink(dump_file_, dir_ / "link.sql");
  ASSERT_TRUE(modified_ago((dir_ / "link.sql").string(), &age_ms));
  EXPECT_NEAR(age_ms, 5 * 3'600'000, 60'000) << "the file the link names";
  ASSERT_EQ(mkfifo((dir_ / "pipe.sql").c_str(), 0600), 0);
  EXPECT_FALSE(modified_ago((dir_ / "pipe.sql").string(), &age_ms));
  EXPECT_FALSE(modified_ago(dir_.string(), &age_ms));
}

TEST_F(DumpJobOnPosix, AnEndingSignalEndsTheProgramAfterTidyingUp) {
  for (int signal : {SIGINT, SIGUSR1, SIGRTMIN + 2}) {
    keep_good_dump();
    dump_command command =
        writing("partial", "kill -" + std::to_string(signal) + " $PPID; sleep 1; echo more");
    EXPECT_EXIT(run(command), ::testing::KilledBySignal(signal), "") << signal;
    EXPECT_EQ(contents(dump_file_), "good dump") << signal;
    EXPECT_FALSE(fs::exists(temp_file_)) << signal;
  }

  // A complete dump that the tool finished before taking the signal is kept.
  dump_command command = writing("complete", "trap '' INT; kill -INT $PPID");
  EXPECT_EXIT(run(command), ::testing::KilledBySignal(SIGINT), "");
  EXPECT_EQ(contents(dump_file_), "complete");
  EXPECT_FALSE(fs::exists(temp_file_));
}

}  // namespace
