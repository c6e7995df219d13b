#include "platform/windows_command_line.h"

#include <gtest/gtest.h>

namespace {

bool gbk_lead_byte(unsigned char byte) { return byte >= 0x81 && byte <= 0xFE; }

TEST(WindowsCommandLine, QuotesSoThatTheRuntimeSplitsBackEveryArgument) {
  const std::pair<const char*, const char*> cases[] = {
      {"plain", "plain"},
      {"%PATH%^&|<>()!", "%PATH%^&|<>()!"},
      {"", "\"\""},
      {"a b\tc", "\"a b\tc\""},
      {"say \"hi\"", "\"say \\\"hi\\\"\""},
      {"a\\\\b", "a\\\\b"},
      {"a\\\"b", "\"a\\\\\\\"b\""},
      {"end \\", "\"end \\\\\""},
      {"\xd6\\\"", "\"\xd6\\\\\"\""},  // GBK 謀, whose second byte is a backslash's
  };
  for (const auto& [argument, quoted] : cases)
    EXPECT_EQ(windows_command_line({argument}, gbk_lead_byte), quoted) << argument;
  EXPECT_EQ(windows_command_line({"mysqldump", "-pa b", "db"}, gbk_lead_byte),
            "mysqldump \"-pa b\" db");
}

}  // namespace
