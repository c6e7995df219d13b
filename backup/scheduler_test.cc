#include "backup/scheduler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <vector>

namespace {

struct stop_ticking {};

class Scheduler : public ::testing::Test {
 protected:
  Scheduler() {
    settings_.save_dir = "/bak/";
    settings_.save_file_name = "shop";
    settings_.db_name = "shop";
  }

  // Runs the scheduler for `ticks` ticks; every dump ends with `result`.
  void run(int ticks, dump_result result = {dump_outcome::saved}) {
    int sleeps = 0;
    backup_env env{[&] {
                     if (++sleeps == ticks) throw stop_ticking{};
                   },
                   [&](const dump_command& command, const dump_paths& paths) {
                     commands_.push_back(command.shell_line);
                     dump_ticks_.push_back(sleeps + 1);
                     EXPECT_EQ(paths.dump_file, "/bak/shop.sql");
                     return result;
                   }};
    EXPECT_THROW(run_auto_backup(con_, settings_, env), stop_ticking);
  }

  std::vector<std::string> output_lines() {
    std::vector<std::string> lines;
    std::istringstream out(out_.str());
    for (std::string line; std::getline(out, line);) lines.push_back(line);
    return lines;
  }

  std::istringstream in_{"3\n"};
  std::ostringstream out_;
  console con_{in_, out_, text_encoding::utf8, [](std::ostream& out) { out << "[clear]"; }};
  backup_settings settings_;
  std::vector<std::string> commands_;
  std::vector<int> dump_ticks_;
};

TEST_F(Scheduler, FirstTickShowsTheCountBeforeAnySleep) {
  run(1);
  EXPECT_EQ(out_.str(), "现在秒：86399\n");
  EXPECT_EQ(in_.peek(), '3') << "the scheduler must not read the console";
}

TEST_F(Scheduler, CountsDownToZeroDumpsAndStartsAgain) {
  set_backup_interval(settings_, 2);
  const int interval = 2 * 86400;
  run(interval + 1);
  ASSERT_EQ(dump_ticks_, std::vector<int>{interval});
  EXPECT_EQ(commands_[0], build_dump_command(settings_).shell_line);

  std::string expected;
  for (int tick = 1; tick <= interval + 1; ++tick) {
    int shown = tick <= interval ? interval - tick : interval - 1;
    expected += "现在秒：" + std::to_string(shown) + "\n";
    if (tick == interval) expected += "开始执行备份。。\n备份完毕，备份文件存放在/bak/目录下的shop.sql\n";
    if (tick % 2000 == 0) expected += "[clear]";
  }
  std::string output = out_.str();
  auto [differs, _] = std::mismatch(output.begin(), output.end(), expected.begin(), expected.end());
  EXPECT_EQ(output.size(), expected.size());
  EXPECT_EQ(output.substr(differs - output.begin(), 80),
            expected.substr(differs - output.begin(), 80))
      << "first difference at byte " << differs - output.begin();
}

TEST_F(Scheduler, ClearsAfterTheDumpLinesWhenBothFallOnOneTick) {
  settings_.countdown_seconds = 2000;
  run(2001);
  std::vector<std::string> lines = output_lines();
  ASSERT_EQ(lines.size(), 2003u);
  EXPECT_EQ(lines[1999], "现在秒：0");
  EXPECT_EQ(lines[2000], "开始执行备份。。");
  EXPECT_EQ(lines[2001], "备份完毕，备份文件存放在/bak/目录下的shop.sql");
  EXPECT_EQ(lines[2002], "[clear]现在秒：86399");
}

TEST_F(Scheduler, FailureIsReportedAndCountingGoesOn) {
  settings_.countdown_seconds = 1;
  run(2, {dump_outcome::tool_failed, 2});
  EXPECT_EQ(out_.str(), "现在秒：0\n开始执行备份。。\n备份失败，原备份文件保持不变，退出状态：2\n现在秒：86399\n");

  out_.str("");
  settings_.countdown_seconds = 1;
  run(1, {dump_outcome::not_saved, 0, "/bak/shop.sql: No space left on device"});
  EXPECT_EQ(out_.str(),
            "现在秒：0\n开始执行备份。。\n"
            "备份失败，原备份文件保持不变，新备份无法保存：/bak/shop.sql: No space left on device\n");
  EXPECT_EQ(settings_.countdown_seconds, 86400);

  out_.str("");
  settings_.countdown_seconds = 1;
  run(1, {dump_outcome::busy});
  EXPECT_EQ(out_.str(), "现在秒：0\n开始执行备份。。\n备份失败，原备份文件保持不变，另一个程序正在备份到同一文件\n");
}

}  // namespace
