#include "shell/texts.h"

#include <gtest/gtest.h>
#include <iconv.h>

#include <string>

namespace {

std::string utf8_to_gbk(std::string_view utf8) {
  iconv_t cd = iconv_open("GBK", "UTF-8");
  EXPECT_NE(cd, reinterpret_cast<iconv_t>(-1));
  std::string in(utf8);
  std::string out(in.size() * 2, '\0');
  char* in_ptr = in.data();
  size_t in_left = in.size();
  char* out_ptr = out.data();
  size_t out_left = out.size();
  EXPECT_NE(iconv(cd, &in_ptr, &in_left, &out_ptr, &out_left), static_cast<size_t>(-1)) << utf8;
  iconv_close(cd);
  out.resize(out.size() - out_left);
  return out;
}

TEST(Texts, GbkFormIsTheGbkEncodingOfTheUtf8Form) {
  for (int i = 0; i < static_cast<int>(text_id::count); ++i) {
    auto id = static_cast<text_id>(i);
    std::string_view utf8 = text(id, text_encoding::utf8);
    EXPECT_FALSE(utf8.empty()) << i;
    EXPECT_EQ(utf8_to_gbk(utf8), text(id, text_encoding::gbk)) << "text " << i << ": " << utf8;
  }
}

TEST(Texts, GbkIsChosenForGbkLocalesOnly) {
  for (const char* codeset : {"GBK", "gbk", "GB2312", "GB18030", "CP936"})
    EXPECT_EQ(encoding_for_codeset(codeset), text_encoding::gbk) << codeset;
  for (const char* codeset : {"UTF-8", "ANSI_X3.4-1968", "ISO-8859-1", "BIG5", ""})
    EXPECT_EQ(encoding_for_codeset(codeset), text_encoding::utf8) << codeset;
}

}  // namespace
