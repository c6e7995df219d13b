// The dump job's policy (claiming, waiting, ending, tidying up) against a fake
// system whose clock moves only when the job waits or sleeps.
#include "backup/dump_job.h"

#include <gtest/gtest.h>

#include <csignal>
#include <stdexcept>
#include <string>
#include <vector>

#include "backup/tool_run.h"
#include "tests/fake_env.h"
#include "tests/temp_dir.h"

namespace {

constexpr int64_t kNever = INT64_MAX;
constexpr int64_t kStartMs = 1'000'000;

class DumpJob : public ::testing::Test, public fake_env {
 protected:
  dump_result run(int64_t deadline_ms = kNever) {
    auto progress = [this](int64_t elapsed_ms, int64_t bytes) {
      if (progress_throws_) throw std::runtime_error("no memory to report");
      progress_.push_back(std::to_string(elapsed_ms) + " ms, " + std::to_string(bytes) + " B");
    };
    return run_dump(*this, command_, "/bak/link.sql", deadline_ms, progress,
                    [this](const std::string& held) { waiting_for_.push_back(held); });
  }

  bool create_temp_file(const std::string& path, temp_file* file, os_error* error) override {
    calls_.push_back("claim");
    if (claims_failing_.empty()) {
      file->path = path;
      return true;
    }
    *error = {claims_failing_.front(), path, "claim failed"};
    if (claims_failing_.size() > 1 || !keep_failing_claims_)
      claims_failing_.erase(claims_failing_.begin());
    return false;
  }
  bool remove_leftover(const std::string& path, os_error* error) override {
    calls_.push_back("remove");
    if (!leftover_stays_) return true;
    *error = {*leftover_stays_, path, "not removed"};
    return false;
  }
  bool start_program(const std::vector<std::string>& arguments, const scoped_handle&,
                     os_error*) override {
    calls_.push_back("start");
    EXPECT_EQ(arguments, command_.arguments);
    started_ms_ = now_ms_;
    tool_ends_ms_ = tool_runs_ms_ == kNever ? kNever : now_ms_ + tool_runs_ms_;
    return tool_starts_;
  }
  bool wait_for_program(int64_t timeout_ms, int* status) override {
    EXPECT_GE(timeout_ms, 0);
    if (tool_ends_ms_ > now_ms_ + timeout_ms) {
      now_ms_ += timeout_ms;
      return false;
    }
    now_ms_ = std::max(now_ms_, tool_ends_ms_);
    *status = tool_status_;
    return true;
  }
  void end_program_politely() override {
    calls_.push_back("polite at " + std::to_string(now_ms_ - started_ms_));
    if (tool_ignores_request_) return;
    tool_ends_ms_ = now_ms_;
    tool_status_ = 143;
  }
  void end_program_by_force() override {
    calls_.push_back("force at " + std::to_string(now_ms_ - started_ms_));
    tool_ends_ms_ = now_ms_;
    tool_status_ = 137;
  }
  // The tool writes a byte a millisecond.
  int64_t claimed_size(const temp_file&) override { return now_ms_ - started_ms_; }
  bool put_in_place(temp_file*, const std::string& target, os_error* error) override {
    calls_.push_back("put");
    EXPECT_EQ(target, "/bak/target.sql");
    if (puts_held_ == 0 && !put_fails_) return true;
    if (puts_held_ > 0) --puts_held_;
    *error = {put_fails_ ? error_kind::other : error_kind::busy, held_file_, "in use"};
    return false;
  }
  void discard_temp_file(temp_file* file) override {
    calls_.push_back("discard");
    EXPECT_EQ(file->path, "/bak/target.sql.part");
  }
  bool take_over_permissions(temp_file*, const std::string& target, os_error* error) override {
    calls_.push_back("rights");
    if (!rights_fail_) return true;
    *error = {*rights_fail_, target, "not allowed"};
    return false;
  }
  bool resolve_links(const std::string& path, std::string* target, os_error* error) override {
    EXPECT_EQ(path, "/bak/link.sql");
    if (link_untrusted_) {
      *error = {error_kind::other, path, "Permission denied"};
      return false;
    }
    *target = "/bak/target.sql";
    return true;
  }
  bool name_has_forbidden_characters(const std::string& path, std::string* name) override {
    *name = "db?daily.sql";
    return name_forbidden_ && path == "/bak/target.sql";
  }
  bool name_is_reserved(const std::string& path, std::string* name) override {
    *name = "NUL.sql";
    return name_reserved_ && path == "/bak/target.sql";
  }
  bool open_device(const std::string& path, scoped_handle* device, os_error* error) override {
    EXPECT_EQ(path, "/bak/target.sql");
    if (!device_) return true;
    calls_.push_back("device");
    if (device_fails_) {
      *error = {error_kind::other, path, "No such device or address"};
      return false;
    }
    // Any open file will do for a device that nothing reads.
    temp_file stand_in;
    std::string name = "device" + std::to_string(++devices_opened_);
    os_error failed;
    EXPECT_TRUE(::create_temp_file((dir_.path / name).string(), &stand_in, &failed))
        << error_text(failed);
    *device = std::move(stand_in.handle);
    return true;
  }
  void hold_ending_signals() override { calls_.push_back("hold"); }
  int release_ending_signals() override {
    calls_.push_back("release");
    return now_ms_ >= signal_at_ms_ ? SIGINT : 0;
  }
  bool ending_signal_held() override { return now_ms_ >= signal_at_ms_; }
  void sleep(int64_t ms) override {
    ++sleeps_;
    now_ms_ += ms;
  }
  int64_t now_ms() override { return now_ms_; }
  bool text_is_usable(const std::string& text, os_error*) override {
    return text.find('\0') == std::string::npos;
  }

  // The calls between holding and releasing the signals.
  std::vector<std::string> held_calls() const {
    EXPECT_EQ(calls_.front(), "hold");
    EXPECT_EQ(calls_.back(), "release");
    return std::vector<std::string>(calls_.begin() + 1, calls_.end() - 1);
  }

  temp_dir dir_;
  const dump_command command_{{"mysqldump", "-hdb", "-uu", "-pp", "shop"}};
  int64_t now_ms_ = kStartMs;
  // Each claim fails with the next of these, then one succeeds; with
  // keep_failing_claims_ the last one stays.
  std::vector<error_kind> claims_failing_;
  bool keep_failing_claims_ = false;
  // Where set, a leftover cannot be removed, for this reason.
  const error_kind* leftover_stays_ = nullptr;
  bool tool_starts_ = true;
  int64_t tool_runs_ms_ = 0;
  int tool_status_ = 0;
  bool tool_ignores_request_ = false;
  int puts_held_ = 0;
  bool put_fails_ = false;
  std::string held_file_ = "/bak/target.sql";
  // Where set, the old dump's rights are not taken over, for this reason.
  const error_kind* rights_fail_ = nullptr;
  bool link_untrusted_ = false;
  bool name_reserved_ = false;
  bool name_forbidden_ = false;
  // The dump file is a pipe or a device; where it fails, it cannot be opened.
  bool device_ = false;
  bool device_fails_ = false;
  int devices_opened_ = 0;
  int64_t signal_at_ms_ = kNever;
  bool progress_throws_ = false;

  std::vector<std::string> calls_;
  std::vector<std::string> progress_;
  int64_t started_ms_ = 0;
  int64_t tool_ends_ms_ = kNever;
  std::vector<std::string> waiting_for_;
  int sleeps_ = 0;
};

TEST_F(DumpJob, ASuccessfulDumpReplacesTheTargetOfTheLink) {
  tool_runs_ms_ = 2500;
  dump_result result = run();
  EXPECT_EQ(result.outcome, dump_outcome::saved);
  EXPECT_EQ(result.elapsed_ms, 2500);
  EXPECT_EQ(result.bytes, 2500);
  EXPECT_EQ(held_calls(), (std::vector<std::string>{"claim", "start", "rights", "put"}));
  EXPECT_FALSE(result.rights_not_taken);

  const error_kind refused = error_kind::other;
  rights_fail_ = &refused;
  result = run();
  EXPECT_EQ(result.outcome, dump_outcome::saved) << "the dump is in place all the same";
  ASSERT_TRUE(result.rights_not_taken);
  EXPECT_EQ(error_text(*result.rights_not_taken), "/bak/target.sql: not allowed");

  // Another account's old dump: the new one is put in place as this account's.
  const error_kind foreign = error_kind::foreign;
  rights_fail_ = &foreign;
  result = run();
  EXPECT_EQ(result.outcome, dump_outcome::saved);
  ASSERT_TRUE(result.rights_not_taken);
  EXPECT_EQ(result.rights_not_taken->kind, error_kind::foreign);
  EXPECT_EQ(result.rights_not_taken->path, "/bak/target.sql");
}

TEST_F(DumpJob, AThrowMidDumpLeavesNoTemporaryFileAndNoSignalHeld) {
  tool_runs_ms_ = 2500;
  progress_throws_ = true;
  EXPECT_THROW(run(), std::runtime_error);
  EXPECT_EQ(std::vector<std::string>(calls_.end() - 2, calls_.end()),
            (std::vector<std::string>{"discard", "release"}));
}

TEST_F(DumpJob, ALeftoverIsClearedOutOfTheWayAndOnlyThat) {
  claims_failing_ = {error_kind::exists};
  EXPECT_EQ(run().outcome, dump_outcome::saved);
  EXPECT_EQ(held_calls(),
            (std::vector<std::string>{"claim", "remove", "claim", "start", "rights", "put"}));

  const error_kind claimed = error_kind::claimed, other = error_kind::other;
  struct {
    const error_kind* leftover;
    error_kind claim;
    dump_outcome outcome;
    std::string error;
  } refused[] = {
      {&claimed, error_kind::exists, dump_outcome::busy, ""},
      {&other, error_kind::exists, dump_outcome::not_saved, "/bak/target.sql.part: not removed"},
      {nullptr, error_kind::claimed, dump_outcome::busy, ""},
      {nullptr, error_kind::other, dump_outcome::not_saved, "/bak/target.sql.part: claim failed"},
  };
  for (const auto& [leftover, claim, outcome, error] : refused) {
    calls_.clear();
    claims_failing_ = {claim};
    leftover_stays_ = leftover;
    dump_result result = run();
    EXPECT_EQ(result.outcome, outcome) << error;
    EXPECT_EQ(error_text(result.error), error);
    for (const std::string& call : calls_) EXPECT_NE(call, "start") << error;
  }
}

TEST_F(DumpJob, OthersThatKeepTakingTheNameCountAsAnotherProgramsBackup) {
  claims_failing_ = {error_kind::exists};
  keep_failing_claims_ = true;
  EXPECT_EQ(run().outcome, dump_outcome::busy);
  std::vector<std::string> rounds;
  for (int round = 0; round < 8; ++round) rounds.insert(rounds.end(), {"claim", "remove"});
  EXPECT_EQ(held_calls(), rounds);
}

TEST_F(DumpJob, EveryFailureDiscardsTheTemporaryFileAndKeepsTheDump) {
  struct {
    const char* name;
    bool starts;
    int status;
    bool put_fails;
    dump_outcome outcome;
    int exit_status;
  } failures[] = {
      {"tool failed", true, 3, false, dump_outcome::tool_failed, 3},
      {"tool not started", false, 0, false, dump_outcome::tool_failed, tool_not_started},
      {"not put in place", true, 0, true, dump_outcome::not_saved, 0},
  };
  for (const auto& failure : failures) {
    calls_.clear();
    tool_starts_ = failure.starts;
    tool_status_ = failure.status;
    put_fails_ = failure.put_fails;
    dump_result result = run();
    EXPECT_EQ(result.outcome, failure.outcome) << failure.name;
    EXPECT_EQ(result.exit_status, failure.exit_status) << failure.name;
    EXPECT_EQ(held_calls().back(), "discard") << failure.name;
  }
  EXPECT_EQ(error_text(run().error), "/bak/target.sql: in use");
}

TEST_F(DumpJob, AHeldDumpFileIsWaitedForOnceASecondWithOneMessage) {
  puts_held_ = 3;
  held_file_ = "/bak/target.sql.part";
  EXPECT_EQ(run().outcome, dump_outcome::saved);
  EXPECT_EQ(waiting_for_, std::vector<std::string>{"/bak/target.sql.part"})
      << "the message names the file that is held";
  EXPECT_EQ(sleeps_, 3);
  EXPECT_EQ(now_ms_, kStartMs + 3000);

  calls_.clear();
  waiting_for_.clear();
  sleeps_ = 0;
  held_file_ = "/bak/target.sql";
  puts_held_ = INT32_MAX;
  dump_result result = run();
  EXPECT_EQ(result.outcome, dump_outcome::not_saved);
  EXPECT_EQ(error_text(result.error), "/bak/target.sql: in use");
  EXPECT_EQ(waiting_for_.size(), 1u);
  EXPECT_EQ(sleeps_, held_dump_file_retries) << "ten minutes, not for ever";
  EXPECT_EQ(held_calls().back(), "discard");
}

TEST_F(DumpJob, AnEndingSignalCutsTheWaitShortAndComesBackAfterTidyingUp) {
  puts_held_ = INT32_MAX;
  signal_at_ms_ = kStartMs + 4500;
  dump_result result = run();
  EXPECT_EQ(result.outcome, dump_outcome::not_saved);
  EXPECT_EQ(result.signal, SIGINT);
  EXPECT_EQ(sleeps_, 5);
  EXPECT_EQ(held_calls().back(), "discard");

  // One that came before the tool could start keeps it from starting.
  calls_.clear();
  puts_held_ = 0;
  signal_at_ms_ = 0;
  result = run();
  EXPECT_EQ(result.outcome, dump_outcome::interrupted);
  EXPECT_EQ(result.signal, SIGINT);
  EXPECT_EQ(calls_, (std::vector<std::string>{"hold", "claim", "discard", "release"}));
}

TEST_F(DumpJob, AToolPastItsDeadlineIsAskedToEndThenEndedByForce) {
  tool_runs_ms_ = kNever;
  tool_ignores_request_ = true;
  dump_result result = run(kStartMs + 5000);
  EXPECT_EQ(result.outcome, dump_outcome::overran);
  EXPECT_EQ(held_calls(), (std::vector<std::string>{"claim", "start", "polite at 5000",
                                                    "force at 15000", "discard"}));
  EXPECT_EQ(progress_.size(), 15u) << "the seconds of grace are told too";

  calls_.clear();
  tool_ignores_request_ = false;
  EXPECT_EQ(run(now_ms_ + 5000).outcome, dump_outcome::overran);
  EXPECT_EQ(held_calls(),
            (std::vector<std::string>{"claim", "start", "polite at 5000", "discard"}));
}

TEST_F(DumpJob, AToolThatIgnoresAnEndingSignalIsEndedByForceTenSecondsLater) {
  tool_runs_ms_ = kNever;
  signal_at_ms_ = kStartMs + 3000;
  EXPECT_EQ(run().signal, SIGINT);
  EXPECT_EQ(held_calls(),
            (std::vector<std::string>{"claim", "start", "force at 13000", "discard"}));
}

TEST_F(DumpJob, AnotherAccountsLinkIsNotFollowedAndNothingIsWritten) {
  link_untrusted_ = true;
  dump_result result = run();
  EXPECT_EQ(result.outcome, dump_outcome::not_saved);
  EXPECT_EQ(error_text(result.error), "/bak/link.sql: Permission denied");
  EXPECT_EQ(held_calls(), std::vector<std::string>{});
}

TEST_F(DumpJob, ANameWindowsCannotSaveUnderFailsAsSuchBeforeAnythingRuns) {
  // What claiming NUL.sql.part would say; "db?daily.sql.part" is an invalid name.
  claims_failing_ = {error_kind::claimed};
  for (bool* refused : {&name_reserved_, &name_forbidden_}) {
    calls_.clear();
    *refused = true;
    dump_result result = run();
    EXPECT_EQ(result.outcome, dump_outcome::not_saved);
    EXPECT_EQ(result.error.kind,
              refused == &name_reserved_ ? error_kind::reserved_name : error_kind::forbidden_name);
    EXPECT_EQ(result.error.path, "/bak/target.sql");
    EXPECT_EQ(held_calls(), std::vector<std::string>{});
    *refused = false;
  }
}

TEST_F(DumpJob, ALeftoverStillHeldWhileBeingDeletedIsWaitedFor) {
  // A scanner holds the leftover .part that a shutdown left: its name is not
  // free until the scanner lets go, three seconds on.
  claims_failing_ = {error_kind::busy, error_kind::busy, error_kind::busy};
  EXPECT_EQ(run().outcome, dump_outcome::saved);
  EXPECT_EQ(waiting_for_, std::vector<std::string>{"/bak/target.sql.part"});
  EXPECT_EQ(sleeps_, 3);

  // Held for good: ten minutes, then the reason.
  waiting_for_.clear();
  sleeps_ = 0;
  claims_failing_ = {error_kind::busy};
  keep_failing_claims_ = true;
  dump_result result = run();
  EXPECT_EQ(result.outcome, dump_outcome::not_saved);
  EXPECT_EQ(error_text(result.error), "/bak/target.sql.part: claim failed");
  EXPECT_EQ(sleeps_, held_dump_file_retries);
}

TEST_F(DumpJob, APipeOrDeviceTakesTheDumpStraightWithNothingToPutInPlace) {
  device_ = true;
  tool_runs_ms_ = 2500;
  dump_result result = run();
  EXPECT_EQ(result.outcome, dump_outcome::saved);
  EXPECT_EQ(result.bytes, unknown_size);
  EXPECT_EQ(held_calls(), (std::vector<std::string>{"device", "start"}));
  EXPECT_EQ(progress_, (std::vector<std::string>{"1000 ms, -1 B", "2000 ms, -1 B"}));

  calls_.clear();
  tool_status_ = 2;
  EXPECT_EQ(run().outcome, dump_outcome::tool_failed);
  EXPECT_EQ(held_calls(), (std::vector<std::string>{"device", "start"}));

  calls_.clear();
  device_fails_ = true;
  result = run();
  EXPECT_EQ(error_text(result.error), "/bak/target.sql: No such device or address");
  EXPECT_EQ(held_calls(), std::vector<std::string>{"device"});
}

TEST_F(DumpJob, ProgressIsToldEachSecondWhileTheToolRuns) {
  tool_runs_ms_ = 3500;
  run();
  EXPECT_EQ(progress_,
            (std::vector<std::string>{"1000 ms, 1000 B", "2000 ms, 2000 B", "3000 ms, 3000 B"}));
}

}  // namespace
