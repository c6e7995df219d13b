#include "backup/cadence.h"

#include <gtest/gtest.h>

namespace {

TEST(Cadence, SleepsToOneSecondAfterTheLastDeadline) {
  cadence c{10'000};
  EXPECT_EQ(advance_cadence(&c, 10'003), 997) << "on time: the tick's work is not added";
  EXPECT_EQ(advance_cadence(&c, 11'400), 600) << "woke up late: the next sleep is shorter";
  EXPECT_EQ(advance_cadence(&c, 13'500), 0) << "half a tick behind: the next tick at once";
  EXPECT_EQ(c.deadline_ms, 13'000);
  EXPECT_EQ(advance_cadence(&c, 13'500), 500) << "and back on the old cadence";
}

TEST(Cadence, StartsWithItsFirstTickWhateverCameBefore) {
  // Warnings and a connection check that took most of a second must not cut
  // the first second short: the count would show one number twice.
  cadence c;
  EXPECT_EQ(advance_cadence(&c, 50'700), 1000);
  EXPECT_EQ(advance_cadence(&c, 51'700), 1000);
}

TEST(Cadence, StartsAgainFromNowInsteadOfCatchingUp) {
  cadence c{10'000};
  EXPECT_EQ(advance_cadence(&c, 60'000), 1000) << "after a long dump";
  EXPECT_EQ(c.deadline_ms, 61'000);
  EXPECT_EQ(advance_cadence(&c, 62'000), 0);
  EXPECT_EQ(advance_cadence(&c, 5'000), 1000) << "the clock went back";
  EXPECT_EQ(c.deadline_ms, 6'000);
}

}  // namespace
