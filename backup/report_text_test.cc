#include "backup/report_text.h"

#include <gtest/gtest.h>

namespace {

TEST(ReportText, ElapsedTimeHasNoLeadingZeros) {
  EXPECT_EQ(elapsed_text(0, text_encoding::utf8), "0秒");
  EXPECT_EQ(elapsed_text(59'999, text_encoding::utf8), "59秒");
  EXPECT_EQ(elapsed_text(60'000, text_encoding::utf8), "1分0秒");
  EXPECT_EQ(elapsed_text(3'599'000, text_encoding::utf8), "59分59秒");
  EXPECT_EQ(elapsed_text(3'600'000, text_encoding::utf8), "1小时0分0秒");
  EXPECT_EQ(elapsed_text(int64_t{100} * 3'600'000 + 61'000, text_encoding::utf8), "100小时1分1秒");
  EXPECT_EQ(elapsed_text(61'000, text_encoding::gbk),
            "1\xb7\xd6"
            "1\xc3\xeb");
}

TEST(ReportText, SizeTakesTheLargestUnitThatKeepsOne) {
  EXPECT_EQ(size_text(0), "0 B");
  EXPECT_EQ(size_text(1023), "1023 B");
  EXPECT_EQ(size_text(1024), "1.0 KB");
  EXPECT_EQ(size_text(831'488), "812.0 KB");
  EXPECT_EQ(size_text(1'048'575), "1.0 MB");
  EXPECT_EQ(size_text(160'641'433), "153.2 MB");
  EXPECT_EQ(size_text(int64_t{5} << 40), "5.0 TB");
  EXPECT_EQ(size_text(int64_t{3000} << 40), "3000.0 TB");
}

TEST(ReportText, ExitStatusesFromTheTopBitUpAreHexadecimalAsWindowsWritesThem) {
  EXPECT_EQ(exit_status_text(0), "0");
  EXPECT_EQ(exit_status_text(127), "127");
  EXPECT_EQ(exit_status_text(128 + 15), "143");
  EXPECT_EQ(exit_status_text(0x7FFFFFFF), "2147483647");
  EXPECT_EQ(exit_status_text(static_cast<int>(0xC0000005u)), "0xC0000005");
  EXPECT_EQ(exit_status_text(-1), "0xFFFFFFFF");
}

}  // namespace
