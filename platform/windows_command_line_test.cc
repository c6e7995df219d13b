#include "platform/windows_command_line.h"

#include <gtest/gtest.h>

namespace {

TEST(WindowsCommandLine, QuotesSoThatTheRuntimeSplitsBackEveryArgument) {
  const std::pair<const wchar_t*, const wchar_t*> cases[] = {
      {L"plain", L"plain"},
      {L"%PATH%^&|<>()!", L"%PATH%^&|<>()!"},
      {L"", L"\"\""},
      {L"a b\tc", L"\"a b\tc\""},
      {L"say \"hi\"", L"\"say \\\"hi\\\"\""},
      {L"a\\\\b", L"a\\\\b"},
      {L"a\\\"b", L"\"a\\\\\\\"b\""},
      {L"end \\", L"\"end \\\\\""},
      {L"\u8b00\\\"", L"\"\u8b00\\\\\\\"\""},
  };
  for (const auto& [argument, quoted] : cases)
    EXPECT_EQ(windows_command_line({argument}), quoted);
  EXPECT_EQ(windows_command_line({L"mysqldump", L"-pa b", L"db"}), L"mysqldump \"-pa b\" db");
}

}  // namespace
