// The console read and written through its wide calls: typed Chinese arrives
// right whatever the console's code page (ReadFile and ReadConsoleA return a
// NUL for each non-ASCII character on a 65001 console of Windows 10 and
// Server 2016 to 2022), and printed Chinese shows right on any code page.
#include "platform/console_win32.h"

#include <windows.h>

#include <cstdlib>
#include <iostream>
#include <streambuf>
#include <string>

#include "platform/platform.h"
#include "platform/programs_win32.h"
#include "platform/win32_common.h"

namespace {

constexpr DWORD kReadChars = 4096;
constexpr wchar_t kCtrlZ = 0x1A;

// The console's input while its mode is changed, and the mode to give back.
void* volatile g_console_input = nullptr;
DWORD g_console_mode = 0;

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
    buffer_ = typed_text(wide, read);
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

int peek_input_byte() {
  using traits = std::streambuf::traits_type;
  int byte = std::cin.rdbuf()->sgetc();
  return byte == traits::eof() ? -1 : traits::to_int_type(traits::to_char_type(byte));
}

void take_input_byte() { std::cin.rdbuf()->sbumpc(); }

void write_output(std::string_view bytes) {
  // A write that failed must not silence the ones after it: the stream would
  // otherwise refuse every later write. Text mode ends each line with CR LF.
  std::cout.clear();
  std::cout << bytes;
  std::cout.flush();
}

bool stdout_can_be_cleared() { return stdout_is_screen(); }

bool stdout_is_journal() { return false; }

bool stdout_is_screen() {
  DWORD mode;
  return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode);
}

void clear_terminal() {
  std::cout.flush();
  HANDLE console = GetStdHandle(STD_OUTPUT_HANDLE);
  CONSOLE_SCREEN_BUFFER_INFO screen;
  if (!GetConsoleScreenBufferInfo(console, &screen)) return;
  DWORD cells = static_cast<DWORD>(screen.dwSize.X) * static_cast<DWORD>(screen.dwSize.Y);
  COORD origin = {0, 0};
  DWORD written;
  FillConsoleOutputCharacterW(console, L' ', cells, origin, &written);
  FillConsoleOutputAttribute(console, screen.wAttributes, cells, origin, &written);
  SetConsoleCursorPosition(console, origin);
}

std::string console_codeset() {
  // Without a console (output to a pipe or a file) this is GBK too.
  return program_code_page() == CP_UTF8 ? "UTF-8" : "GBK";
}

void keep_console_from_pausing() {
  install_console_handler();
  scoped_handle input =
      owned(CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                        nullptr, OPEN_EXISTING, 0, nullptr));
  HANDLE handle = raw(input);
  DWORD mode;
  if (input.valid() && GetConsoleMode(handle, &mode) &&
      SetConsoleMode(handle, (mode & ~ENABLE_QUICK_EDIT_MODE) | ENABLE_EXTENDED_FLAGS)) {
    g_console_mode = mode;
    g_console_input = reinterpret_cast<HANDLE>(input.release());
    // Ending by exit(): menu item 3, or the end of the input.
    std::atexit(restore_console_mode);
  }
}

void restore_console_mode() {
  HANDLE input = InterlockedExchangePointer(&g_console_input, nullptr);
  if (input == nullptr) return;
  SetConsoleMode(input, g_console_mode);
  CloseHandle(input);
}
