// The check at start against a fake system: which runs of the tool it makes,
// with what, and what it says.
#include "backup/connection_check.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "tests/fake_env.h"
#include "tests/stream_io.h"

namespace {

using arguments = std::vector<std::string>;

class ConnectionCheck : public ::testing::Test, public fake_env {
 protected:
  // One run of the tool: how long it takes, how it ends, what it writes.
  struct run {
    int status = 0;
    std::string output = "";
    int64_t takes_ms = 100;
  };

  bool create_handed_file(const std::string& content, handed_file* file, os_error*) override {
    option_files_.push_back(content);
    file->name = "/dev/fd/9";
    return true;
  }
  void remove_handed_file(handed_file*) override { ++removed_; }
  bool create_scratch_file(scoped_handle*, os_error*) override { return true; }
  std::string read_scratch_file(const scoped_handle&, std::size_t most) override {
    return runs_[started_.size() - 1].output.substr(0, most);
  }
  bool start_program(const arguments& started, const scoped_handle&, os_error*) override {
    started_.push_back(started);
    ends_ms_ = now_ms_ + runs_[started_.size() - 1].takes_ms;
    status_ = runs_[started_.size() - 1].status;
    return true;
  }
  bool wait_for_program(int64_t timeout_ms, int* status) override {
    if (ends_ms_ > now_ms_ + timeout_ms) {
      now_ms_ += timeout_ms;
      return false;
    }
    now_ms_ = std::max(now_ms_, ends_ms_);
    *status = status_;
    return true;
  }
  void end_program_politely() override {
    ends_ms_ = now_ms_;
    status_ = 143;
  }
  void end_program_by_force() override { ends_ms_ = now_ms_; }
  int64_t now_ms() override { return now_ms_; }
  bool text_is_usable(const std::string& text, os_error*) override {
    return text.find('\0') == std::string::npos;
  }

  void check() {
    backup_settings settings;
    settings.server_address = "db";
    settings.db_user = "backup";
    settings.db_password = "pa\"ss";
    settings.db_name = "shop";
    std::vector<kept_line> shown;
    check_connection(con_, settings, {}, *this, &shown);
  }

  std::istringstream in_;
  std::ostringstream out_;
  stream_io io_{in_, out_};
  console con_{io_, text_encoding::utf8, nullptr};
  std::vector<run> runs_;
  std::vector<arguments> started_;
  std::vector<std::string> option_files_;
  int removed_ = 0;
  int64_t now_ms_ = 0;
  int64_t ends_ms_ = 0;
  int status_ = 0;
};

const char kSchema[] =
    "-- MariaDB dump 10.19  Distrib 10.11.6-MariaDB\n"
    "DROP TABLE IF EXISTS `or``ders`;\n"
    "CREATE TABLE `or``ders` (\n  `id` int(11) NOT NULL\n);\n"
    "CREATE TABLE `second` (\n";

TEST_F(ConnectionCheck, ThePasswordGoesOnlyIntoAnOptionFileNamedFirstAndRemovedAfter) {
  runs_ = {{0, kSchema}, {0}};
  check();
  ASSERT_EQ(started_.size(), 2u);
  for (const arguments& run : started_) {
    EXPECT_EQ(run[1], "--defaults-extra-file=/dev/fd/9");
    for (const std::string& argument : run) EXPECT_EQ(argument.find("pa\"ss"), std::string::npos);
  }
  EXPECT_EQ(option_files_, (arguments(2, "[client]\npassword=\"pa\\\"ss\"\n")));
  EXPECT_EQ(removed_, 2);
  EXPECT_EQ(out_.str(), "");
}

TEST_F(ConnectionCheck, TheDumpsTableLockIsTakenOnTheFirstTableAlone) {
  runs_ = {{0, kSchema}, {0}};
  check();
  ASSERT_EQ(started_.size(), 2u);
  auto has = [](const arguments& run, const char* option) {
    return std::find(run.begin(), run.end(), option) != run.end();
  };
  EXPECT_TRUE(has(started_[0], "--skip-lock-tables"));
  EXPECT_FALSE(has(started_[1], "--skip-lock-tables"));
  EXPECT_TRUE(has(started_[1], "--no-data"));
  EXPECT_EQ(arguments(started_[1].end() - 2, started_[1].end()), (arguments{"shop", "or`ders"}));

  // An empty database has no table to lock.
  started_.clear();
  runs_ = {{0, "-- MariaDB dump\n"}};
  check();
  EXPECT_EQ(started_.size(), 1u);
}

TEST_F(ConnectionCheck, EitherRunFailingWarnsWithItsStatus) {
  runs_ = {{2, ""}};
  check();
  EXPECT_EQ(started_.size(), 1u);
  EXPECT_EQ(out_.str(), "警告：用当前设置连接数据库失败，退出状态：2\n");

  // Connected, but not allowed to lock what the dump locks.
  out_.str("");
  started_.clear();
  runs_ = {{0, kSchema}, {2}};
  check();
  EXPECT_EQ(started_.size(), 2u);
  EXPECT_EQ(out_.str(), "警告：用当前设置连接数据库失败，退出状态：2\n");
}

TEST_F(ConnectionCheck, ASchemaTooLargeToReadInTimeIsNoFailureOnceTheToolHasAnswered) {
  runs_ = {{0, kSchema, 50'000}, {0}};
  check();
  EXPECT_EQ(out_.str(), "");
  EXPECT_EQ(started_.size(), 2u) << "the lock is still checked";

  started_.clear();
  runs_ = {{0, "", 50'000}};
  check();
  EXPECT_EQ(out_.str(), "警告：用当前设置连接数据库失败，退出状态：143\n");
}

TEST_F(ConnectionCheck, TheToolIsAskedItsVersionWithoutAnyOptionFile) {
  runs_ = {{0, "mysqldump  Ver 8.0.36 for Linux on x86_64 (MySQL Community Server - GPL)\n"}};
  tool_version version = identify_tool(*this, "/usr/bin/mysqldump");
  EXPECT_EQ(version.family, tool_family::mysql);
  EXPECT_EQ(version.patch, 36);
  EXPECT_EQ(started_.back(), (arguments{"/usr/bin/mysqldump", "--no-defaults", "--version"}));
  EXPECT_TRUE(option_files_.empty());

  runs_.push_back({2, "mysqldump  Ver 8.0.36 for Linux"});
  EXPECT_EQ(identify_tool(*this, "mysqldump").family, tool_family::unknown);
}

TEST(FirstTable, IsReadAsTheToolWroteIt) {
  EXPECT_EQ(first_table("CREATE TABLE `a b` ("), "a b");
  EXPECT_EQ(first_table("CREATE TABLE IF NOT EXISTS `t` ("), "t");
  EXPECT_EQ(first_table("-- skip-quote-names\nCREATE TABLE plain (\n"), "plain");
  EXPECT_EQ(first_table("CREATE TABLE `cut off"), "");
  EXPECT_EQ(first_table("-- no tables\n"), "");
}

}  // namespace
