#include "shell/console.h"

#include <gtest/gtest.h>

#include <sstream>
#include <vector>

#include "tests/stream_io.h"

namespace {

struct console_fixture {
  explicit console_fixture(const std::string& input)
      : in(input), io(in, out), con{io, text_encoding::utf8, nullptr} {}
  std::istringstream in;
  std::ostringstream out;
  stream_io io;
  console con;
};

std::vector<std::string> read_all_words(console& con) {
  std::vector<std::string> words;
  std::string word;
  while (read_word(con, &word) == read_status::ok) words.push_back(word);
  return words;
}

TEST(ReadWord, SplitsOnlyOnTheSixWhitespaceBytes) {
  // GBK "中文" with the GBK full-width blank between, UTF-8 text with U+3000,
  // and a byte 0x85 that some locales take for a line break.
  console_fixture f(" \t\n\v\f\rp@$s'\"\\ \xd6\xd0\xa1\xa1\xce\xc4\r\n中文　全角\x85x \n\n\tlast");
  EXPECT_EQ(read_all_words(f.con),
            (std::vector<std::string>{"p@$s'\"\\", "\xd6\xd0\xa1\xa1\xce\xc4", "中文　全角\x85x",
                                      "last"}));
}

TEST(ReadWord, LeavesTheRestOfTheLinePending) {
  console_fixture f("4 3\nnext");
  int32_t value = 0;
  ASSERT_EQ(read_int(f.con, &value), read_status::ok);
  EXPECT_EQ(value, 4);
  ASSERT_EQ(read_int(f.con, &value), read_status::ok);
  EXPECT_EQ(value, 3);
  std::string word;
  ASSERT_EQ(read_word(f.con, &word), read_status::ok);
  EXPECT_EQ(word, "next");
  EXPECT_EQ(read_word(f.con, &word), read_status::end_of_input);
  EXPECT_EQ(word, "next") << "a failed read must not touch the word";
}

TEST(ReadInt, TakesOnlyWholeWordsThatFit32Bits) {
  const std::pair<const char*, int32_t> accepted[] = {{"0", 0},
                                                      {"-1", -1},
                                                      {"+7", 7},
                                                      {"007", 7},
                                                      {"2147483647", 2147483647},
                                                      {"-2147483648", -2147483647 - 1}};
  for (const auto& [word, expected] : accepted) {
    console_fixture f(word);
    int32_t value = 0;
    EXPECT_EQ(read_int(f.con, &value), read_status::ok) << word;
    EXPECT_EQ(value, expected) << word;
  }
  const char* refused[] = {"abc", "2x",  "x2",  "99999999999", "2147483648", "-2147483649", "+",
                           "-",   "+-5", "--5", "1.5",         "４",         "0x10"};
  for (const char* word : refused) {
    console_fixture f(std::string(word) + " 9");
    int32_t value = 42;
    EXPECT_EQ(read_int(f.con, &value), read_status::not_a_number) << word;
    EXPECT_EQ(value, 42) << word;
    ASSERT_EQ(read_int(f.con, &value), read_status::ok) << "refused word not consumed: " << word;
    EXPECT_EQ(value, 9);
  }
  console_fixture empty(" \n\t ");
  int32_t value = 0;
  EXPECT_EQ(read_int(empty.con, &value), read_status::end_of_input);
}

TEST(PrintLine, WritesLabelAndValueBackToBackOnOneLine) {
  console_fixture f("");
  print_line(f.con, text_id::label_db_password, "p$'w");
  print_line(f.con, "plain");
  EXPECT_EQ(f.out.str(), "数据库密码：p$'w\nplain\n");
}

}  // namespace
