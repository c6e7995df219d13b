// The console routines that every dialogue prints and reads with.
#ifndef AUTODUMP_SHELL_CONSOLE_H_
#define AUTODUMP_SHELL_CONSOLE_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "shell/texts.h"

// Where a console's bytes come from and go to: standard input and output in
// the program (standard_io()), strings in its tests.
class console_io {
 public:
  virtual ~console_io() = default;
  // The next byte of input without taking it; -1 at its end.
  virtual int peek() = 0;
  // Takes the byte that peek() gave.
  virtual void take() = 0;
  // Writes `bytes`, to be seen at once.
  virtual void write(std::string_view bytes) = 0;
};

// Standard input and output, through the platform.
console_io& standard_io();

struct console {
  console_io& io;
  text_encoding encoding;
  // Clears the screen that `io` shows; null when it is not a terminal, so
  // that pipes and files get plain lines only.
  void (*clear)(console_io& io);
  // Whether `out` is a terminal the operator watches, where the password may
  // be shown; never a file, a pipe or a journal.
  bool shows_secrets = false;
  // Whether `out` is systemd's journal, which takes each line's importance
  // from a "<N>" before it.
  bool to_journal = false;
  // Whether anything has been read yet: the first read skips a byte-order
  // mark.
  bool read_before = false;
};

// Writes `line` and a line feed, then flushes, so that every line is on the
// screen before anything slow happens. Into the journal, the line's level
// goes before it.
void print_line(console& con, std::string_view line, line_level level = line_level::info);
void print_line(console& con, text_id id);
// A label and its value back to back on one line.
void print_line(console& con, text_id label, std::string_view value);
// A value between two texts, on one line.
void print_line(console& con, text_id before, std::string_view value, text_id after);
// The same line as text, for a caller that prints it later or joins several.
std::string labelled(const console& con, text_id label, std::string_view value);

// A line kept to be printed again (after the screen is cleared), with its level.
struct kept_line {
  std::string text;
  line_level level;
};
kept_line keep_line(const console& con, text_id label, std::string_view value = "");
// A value between two texts.
kept_line keep_line(const console& con, text_id before, std::string_view value, text_id after);
void print_line(console& con, const kept_line& line);

// A label without the colon that ends it ("数据库密码" of "数据库密码："), to
// name a field inside another line.
std::string_view field_name(const console& con, text_id label);

enum class read_status { ok, not_a_number, end_of_input, too_long };

// The longest word read_word() takes: an endless line (a device that never
// ends a word) must not take all memory.
constexpr std::size_t max_word_bytes = 1 << 20;

// Reads the next word: skips blank, tab, line feed, vertical tab, form feed and
// carriage return, then takes the bytes up to the next of these. Bytes from
// 0x80 up always belong to a word, so GBK and UTF-8 text is never split. The
// rest of the line stays pending. Returns ok, end_of_input, or too_long for a
// word longer than max_word_bytes; `word` changes only with ok. The first read
// skips a UTF-8 byte-order mark, as Notepad writes one (no answer can begin
// with its bytes, the first being a menu number); it waits for input only
// when asked to read, so that what was printed before is on the screen.
read_status read_word(console& con, std::string* word);

// Reads the next word and takes it as a decimal integer with an optional sign.
// A word that is anything else, or does not fit 32 bits, is consumed all the
// same and gives not_a_number.
read_status read_int(console& con, int32_t* value);

// The line that says why the program ends when reading gave `status`
// (end_of_input or too_long).
text_id input_end_text(read_status status);

// Clears a terminal; writes nothing when the output is a pipe or a file.
void clear_screen(console& con);

#endif  // AUTODUMP_SHELL_CONSOLE_H_
