// The console read and written through its wide calls: typed Chinese arrives
// right whatever the console's code page (ReadFile and ReadConsoleA return a
// NUL for each non-ASCII character on a 65001 console of Windows 10 and
// Server 2016 to 2022), and printed Chinese shows right on any code page.
#include <windows.h>

#include <iostream>
#include <streambuf>
#include <string>

#include "platform/platform.h"
#include "platform/win32_common.h"

namespace {

constexpr DWORD kReadChars = 4096;
constexpr wchar_t kCtrlZ = 0x1A;

class console_input : public std::streambuf {
 public:
  explicit console_input(HANDLE console) : console_(console) {}

 protected:
  int_type underflow() override {
    if (gptr() < egptr()) return traits_type::to_int_type(*gptr());
    wchar_t wide[kReadChars];
    DWORD read = 0;
    // Ctrl-Z at the start of a line ends the input, as on a console read as a file.
    if (!ReadConsoleW(console_, wide, kReadChars, &read, nullptr) || read == 0 || wide[0] == kCtrlZ)
      return traits_type::eof();
    buffer_ = from_wide(wide, read);
    setg(buffer_.data(), buffer_.data(), buffer_.data() + buffer_.size());
    return traits_type::to_int_type(*gptr());
  }

 private:
  HANDLE console_;
  std::string buffer_;
};

// Collects what is printed until it is flushed (print_line flushes each whole
// line), so that no character is cut in two.
class console_output : public std::streambuf {
 public:
  explicit console_output(HANDLE console) : console_(console) {}

 protected:
  int_type overflow(int_type c) override {
    if (!traits_type::eq_int_type(c, traits_type::eof())) pending_ += traits_type::to_char_type(c);
    return traits_type::not_eof(c);
  }
  std::streamsize xsputn(const char* text, std::streamsize count) override {
    pending_.append(text, static_cast<std::size_t>(count));
    return count;
  }
  int sync() override {
    std::wstring wide;
    for (wchar_t c : to_wide(pending_)) {
      if (c == L'\n') wide += L'\r';
      wide += c;
    }
    pending_.clear();
    for (std::size_t done = 0; done < wide.size();) {
      DWORD written = 0;
      if (!WriteConsoleW(console_, wide.data() + done, static_cast<DWORD>(wide.size() - done),
                         &written, nullptr) ||
          written == 0)
        return -1;
      done += written;
    }
    return 0;
  }

 private:
  HANDLE console_;
  std::string pending_;
};

}  // namespace

void connect_console_streams() {
  DWORD mode;
  HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  if (GetConsoleMode(input, &mode)) {
    static console_input typed(input);
    std::cin.rdbuf(&typed);
  }
  HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
  if (GetConsoleMode(output, &mode)) {
    static console_output shown(output);
    std::cout.rdbuf(&shown);
  }
}
