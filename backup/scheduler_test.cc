#include "backup/scheduler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <optional>
#include <sstream>
#include <vector>

#include "tests/fake_env.h"
#include "tests/stream_io.h"

namespace {

struct stop_ticking {};
struct ended_by {
  int signal;
};

constexpr int64_t kDayMs = 86'400'000;

class Scheduler : public ::testing::Test, public fake_env {
 protected:
  Scheduler() {
    settings_.save_dir = "/bak/";
    settings_.save_file_name = "shop";
    settings_.db_name = "shop";
  }

  // Runs the scheduler for `ticks` ticks, each sleep a second on the clock
  // (plus `stalls_[tick]`, where given). Each dump takes dump_ms_, telling its
  // progress each second, and ends with the next of results_, or with success
  // (a dump of 1.5 KB) once they are used up.
  void run(int ticks) {
    ticks_ = ticks;
    sleeps_ = 0;
    auto dump = [&](os_env&, const dump_command& command, const std::string& dump_file,
                    int64_t deadline_ms, const dump_progress& on_progress, const dump_waiting&) {
      EXPECT_EQ(command.arguments, build_dump_command(settings_).arguments);
      EXPECT_EQ(dump_file, "/bak/shop.sql");
      dumps_.push_back({now_ms_, deadline_ms});
      for (int64_t ms = 1000; ms < dump_ms_ && ms <= 10'000; ms += 1000)
        on_progress(ms, ms / 1000 * 300 * 1024);
      now_ms_ += dump_ms_;
      dump_result result{dump_outcome::saved, 0, {}, dump_ms_, 1536};
      if (dumps_.size() <= results_.size()) result = results_[dumps_.size() - 1];
      return result;
    };
    try {
      run_auto_backup(con_, settings_, *this, {"mysqldump"}, warnings_, dump);
    } catch (const stop_ticking&) {
    } catch (const ended_by& ended) {
      ended_by_ = ended.signal;
    }
  }

  int64_t now_ms() override { return now_ms_; }
  std::string local_time_at(int64_t at_ms) override { return "@" + std::to_string(at_ms / 1000); }
  void sleep(int64_t ms) override {
    if (++sleeps_ == ticks_) throw stop_ticking{};
    now_ms_ += ms + stalls_[sleeps_];
  }
  void end_by_signal(int signal) override { throw ended_by{signal}; }
  bool modified_ago(const std::string& path, int64_t* age_ms) override {
    EXPECT_EQ(path, "/bak/shop.sql");
    if (dump_age_ms_) *age_ms = *dump_age_ms_;
    return dump_age_ms_.has_value();
  }

  // The lines printed, without those that tell a dump's progress.
  std::vector<std::string> output_lines() {
    std::vector<std::string> lines;
    std::istringstream out(out_.str());
    for (std::string line; std::getline(out, line);)
      if (line.rfind("正在备份", 0) != 0) lines.push_back(line);
    return lines;
  }

  std::istringstream in_{"3\n"};
  std::ostringstream out_;
  stream_io io_{in_, out_};
  console con_{io_, text_encoding::utf8, [](console_io& io) { io.write("[clear]"); }};
  backup_settings settings_;
  const int64_t start_ms_ = 5'000'000;
  int64_t now_ms_ = start_ms_;
  std::map<int, int64_t> stalls_;
  int64_t dump_ms_ = 0;
  std::vector<dump_result> results_;
  std::vector<kept_line> warnings_;
  // How long ago the dump file was written; none where not set.
  std::optional<int64_t> dump_age_ms_;
  int ended_by_ = 0;
  int ticks_ = 0;
  int sleeps_ = 0;
  struct dump_call {
    int64_t at_ms, deadline_ms;
  };
  std::vector<dump_call> dumps_;
};

TEST_F(Scheduler, FirstTickShowsTheCountBeforeAnySleep) {
  run(1);
  EXPECT_EQ(out_.str(), "下次备份时间：@91399\n现在秒：86399\n");
  EXPECT_EQ(in_.peek(), '3') << "the scheduler must not read the console";
}

TEST_F(Scheduler, ARestartKeepsTheScheduleOfTheLastDump) {
  // Written an hour ago: due an interval after it was, 23 hours from now.
  dump_age_ms_ = 3'600'000;
  run(1);
  EXPECT_EQ(out_.str(), "下次备份时间：@87800\n现在秒：82800\n");

  // Written longer ago than the interval (a backup missed while the program
  // was down): at once, at the first tick.
  out_.str("");
  dump_age_ms_ = 2 * 86'400'000;
  run(1);
  EXPECT_EQ(output_lines()[1], "现在秒：0");
  EXPECT_EQ(dumps_.size(), 1u);
}

TEST_F(Scheduler, WithoutADumpOrWithOneFromTheFutureTheCountIsAFullInterval) {
  for (std::optional<int64_t> age : {std::optional<int64_t>(), std::optional<int64_t>(-5000)}) {
    out_.str("");
    now_ms_ = start_ms_;
    settings_.countdown_seconds = 86400;
    dump_age_ms_ = age;
    run(1);
    EXPECT_EQ(out_.str(), "下次备份时间：@91399\n现在秒：86399\n");
  }
}

TEST_F(Scheduler, CountsDownToZeroDumpsAndStartsAgain) {
  set_backup_interval(settings_, 2);
  const int interval = 2 * 86400;
  run(interval + 1);
  ASSERT_EQ(dumps_.size(), 1u);
  EXPECT_EQ(dumps_[0].at_ms, start_ms_ + (interval - 1) * 1000);

  const std::string first_due = "下次备份时间：@" + std::to_string(5000 + interval - 1) + "\n";
  std::string expected = first_due;
  for (int tick = 1; tick <= interval + 1; ++tick) {
    int shown = tick <= interval ? interval - tick : interval - 1;
    expected += "现在秒：" + std::to_string(shown) + "\n";
    if (tick == interval)
      expected +=
          "开始执行备份。。\n备份完毕，备份文件存放在/bak/目录下的shop.sql\n"
          "本次备份用时：0秒，文件大小：1.5 KB\n下次备份时间：@" +
          std::to_string(5000 + 2 * interval - 1) + "\n";
    if (tick % 2000 == 0) expected += "[clear]" + first_due;
  }
  std::string output = out_.str();
  auto [differs, _] = std::mismatch(output.begin(), output.end(), expected.begin(), expected.end());
  EXPECT_EQ(output.size(), expected.size());
  EXPECT_EQ(output.substr(differs - output.begin(), 80),
            expected.substr(differs - output.begin(), 80))
      << "first difference at byte " << differs - output.begin();
}

TEST_F(Scheduler, ABackupShowsItsProgressItsSizeAndTheNextTime) {
  settings_.countdown_seconds = 1;
  dump_ms_ = 3500;
  run(1);
  EXPECT_EQ(out_.str(),
            "下次备份时间：@5000\n现在秒：0\n开始执行备份。。\n"
            "正在备份，已用时：1秒，已写入：300.0 KB\n"
            "正在备份，已用时：2秒，已写入：600.0 KB\n"
            "正在备份，已用时：3秒，已写入：900.0 KB\n"
            "备份完毕，备份文件存放在/bak/目录下的shop.sql\n"
            "本次备份用时：3秒，文件大小：1.5 KB\n"
            "下次备份时间：@91400\n");
}

TEST_F(Scheduler, ADumpIntoAPipeHasNoSizeToShowAndRightsNotKeptAreSaid) {
  settings_.countdown_seconds = 1;
  dump_ms_ = 1500;
  results_ = {{dump_outcome::saved, 0, {}, 1500, unknown_size},
              {dump_outcome::saved,
               0,
               {},
               0,
               1536,
               os_error{error_kind::other, "/bak/shop.sql", "Access is denied."}}};
  run(1);
  std::vector<std::string> lines = output_lines();
  EXPECT_EQ(std::vector<std::string>(lines.begin() + 4, lines.end() - 1),
            std::vector<std::string>{"本次备份用时：1秒"});
  out_.str("");
  settings_.countdown_seconds = 1;
  dump_ms_ = 0;
  run(1);
  EXPECT_EQ(output_lines()[5],
            "警告：新备份文件未能沿用原备份文件的访问权限：/bak/shop.sql: Access is denied.");

  out_.str("");
  settings_.countdown_seconds = 1;
  dump_result foreign{dump_outcome::saved, 0, {}, 0, 1536};
  foreign.rights_not_taken = os_error{error_kind::foreign, "/bak/shop.sql"};
  results_.push_back(foreign);
  run(1);
  EXPECT_EQ(output_lines()[5],
            "警告：原备份文件属于其他账号，新备份文件只允许本账号读写：/bak/shop.sql");
}

TEST_F(Scheduler, ABackupCutShortBySignalSaysSoAndEndsTheProgram) {
  settings_.countdown_seconds = 1;
  dump_result killed{dump_outcome::tool_failed, 130};
  killed.signal = 2;
  results_ = {killed};
  run(5);
  EXPECT_EQ(ended_by_, 2);
  EXPECT_EQ(output_lines().back(), "备份已中断，原备份文件保持不变");

  // A dump complete before the signal came is in place, and said to be.
  out_.str("");
  ended_by_ = 0;
  settings_.countdown_seconds = 1;
  dump_result saved{dump_outcome::saved, 0, {}, 0, 1536};
  saved.signal = 15;
  results_ = {killed, saved};
  run(5);
  EXPECT_EQ(ended_by_, 15);
  EXPECT_EQ(output_lines().back(), "本次备份用时：0秒，文件大小：1.5 KB");
}

TEST_F(Scheduler, OnAScreenTheWarningsComeBackAfterAClearingUntilTheFirstBackup) {
  warnings_ = {keep_line(con_, text_id::warning_no_database)};
  settings_.countdown_seconds = 3000;
  run(4001);
  std::vector<std::string> lines = output_lines();
  EXPECT_EQ(lines[2001], "[clear]警告：尚未设置数据库名，请先选择菜单1");
  EXPECT_EQ(lines[2002], "下次备份时间：@7999");
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "[clear]警告：尚未设置数据库名，请先选择菜单1"),
            1)
      << "the first backup's report takes their place";
}

TEST_F(Scheduler, ALogGetsEachLineOnceHoweverManyClearings) {
  con_.clear = nullptr;
  warnings_ = {keep_line(con_, text_id::warning_no_database)};
  settings_.countdown_seconds = 1;
  results_ = {{dump_outcome::tool_failed, 2}};
  run(86400 + 1);
  std::vector<std::string> lines = output_lines();
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "备份失败，原备份文件保持不变，退出状态：2"), 1);
  EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                          [](const std::string& line) { return line.rfind("现在秒", 0) != 0; }),
            2 + 3 + 3)
      << "the next time, then each backup's start, result and next time";
}

TEST_F(Scheduler, BeforeAnyBackupAClearingShowsTheNextTimeAlone) {
  run(2000);
  EXPECT_EQ(output_lines().back(), "[clear]下次备份时间：@91399");
}

TEST_F(Scheduler, ClearsAfterTheDumpLinesWhenBothFallOnOneTick) {
  settings_.countdown_seconds = 2000;
  run(2001);
  std::vector<std::string> lines = output_lines();
  ASSERT_EQ(lines.size(), 2010u);
  EXPECT_EQ(std::vector<std::string>(lines.begin() + 2000, lines.end()),
            (std::vector<std::string>{
                "现在秒：0", "开始执行备份。。", "备份完毕，备份文件存放在/bak/目录下的shop.sql",
                "本次备份用时：0秒，文件大小：1.5 KB", "下次备份时间：@93399",
                "[clear]上次备份时间：@6999", "备份完毕，备份文件存放在/bak/目录下的shop.sql",
                "本次备份用时：0秒，文件大小：1.5 KB", "下次备份时间：@93399", "现在秒：86399"}));
}

TEST_F(Scheduler, FailureIsReportedAndCountingGoesOn) {
  settings_.countdown_seconds = 1;
  results_ = {
      {dump_outcome::tool_failed, 2},
      {dump_outcome::not_saved, 0, {error_kind::other, "/bak/shop.sql", "No space left on device"}},
      {dump_outcome::busy}};
  run(2);
  EXPECT_EQ(out_.str(),
            "下次备份时间：@"
            "5000\n现在秒：0\n开始执行备份。。\n备份失败，原备份文件保持不变，退出状态：2\n"
            "下次备份时间：@91400\n现在秒：86399\n");

  results_.push_back({dump_outcome::not_saved, 0, {error_kind::reserved_name, "D:/bak/NUL.sql"}});
  results_.push_back(
      {dump_outcome::not_saved, 0, {error_kind::forbidden_name, "D:/bak/db?daily.sql"}});
  results_.push_back({dump_outcome::tool_failed, static_cast<int>(0xC0000005u)});
  for (const char* failure :
       {"新备份无法保存：/bak/shop.sql: No space left on device", "另一个程序正在备份到同一文件",
        "新备份无法保存：D:/bak/NUL.sql: 文件名是Windows保留的设备名",
        "新备份无法保存：D:/bak/db?daily.sql: 文件名含有Windows不允许的字符",
        "退出状态：0xC0000005"}) {
    out_.str("");
    settings_.countdown_seconds = 1;
    run(1);
    EXPECT_EQ(output_lines()[3], std::string("备份失败，原备份文件保持不变，") + failure);
  }
}

TEST_F(Scheduler, ALongDumpDoesNotShiftTheNextBackup) {
  settings_.countdown_seconds = 1;
  dump_ms_ = 6050 * 1000;
  run(86400 - 6050 + 1);
  ASSERT_EQ(dumps_.size(), 2u);
  EXPECT_EQ(dumps_[0].at_ms, start_ms_);
  EXPECT_EQ(dumps_[1].at_ms, start_ms_ + kDayMs);
  EXPECT_EQ(dumps_[0].deadline_ms, start_ms_ + kDayMs);
  EXPECT_EQ(output_lines()[6], "现在秒：80349") << "the seconds really left after the dump";
}

TEST_F(Scheduler, AStallPastDueTimesGivesOneBackupThenTheNextDueTimeAhead) {
  stalls_[1] = kDayMs * 7 / 2;  // a machine asleep for three and a half days
  run(3);
  const int64_t first_due = start_ms_ + kDayMs - 1000;
  ASSERT_EQ(dumps_.size(), 1u);
  EXPECT_EQ(dumps_[0].deadline_ms, first_due + 3 * kDayMs);
  std::vector<std::string> lines = output_lines();
  EXPECT_EQ(std::vector<std::string>(lines.begin() + 1, lines.begin() + 3),
            (std::vector<std::string>{"现在秒：86399", "现在秒：0"}));
  EXPECT_EQ(lines.back(), "现在秒：43197");
}

TEST_F(Scheduler, ADumpStillRunningWhenTheNextIsDueIsEndedAndTheNextStarts) {
  settings_.countdown_seconds = 1;
  results_ = {{dump_outcome::overran}};
  dump_ms_ = kDayMs;  // the fake dump returns at its deadline
  run(2);
  ASSERT_EQ(dumps_.size(), 2u);
  EXPECT_EQ(dumps_[1].at_ms, start_ms_ + kDayMs + 1000);
  EXPECT_EQ(dumps_[1].deadline_ms, start_ms_ + 2 * kDayMs);
  std::vector<std::string> lines = output_lines();
  EXPECT_EQ(std::vector<std::string>(lines.begin() + 1, lines.begin() + 6),
            (std::vector<std::string>{"现在秒：0", "开始执行备份。。",
                                      "备份失败，原备份文件保持不变，到下次备份时间仍未完成",
                                      "下次备份时间：@91400", "现在秒：0"}));
}

TEST_F(Scheduler, AfterADumpPastSeveralDueTimesTheNextTimeIsWhenItReallyStarts) {
  settings_.countdown_seconds = 1;
  results_ = {{dump_outcome::overran}};
  dump_ms_ = kDayMs * 7 / 2;  // a machine asleep in the middle of the dump
  run(1);
  EXPECT_EQ(output_lines().back(), "下次备份时间：@" + std::to_string(5000 + 86400 * 7 / 2));
}

}  // namespace
