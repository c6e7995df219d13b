#include "shell/console.h"

#include <charconv>

namespace {

bool is_whitespace(int byte) {
  return byte == ' ' || byte == '\t' || byte == '\n' || byte == '\v' || byte == '\f' ||
         byte == '\r';
}

}  // namespace

void print_line(console& con, std::string_view line) {
  // A write that failed (a full disk under a log file) must not silence the
  // lines after it: the stream would otherwise refuse every later write.
  con.out.clear();
  con.out << line << '\n';
  con.out.flush();
}

void print_line(console& con, text_id id) { print_line(con, text(id, con.encoding)); }

void print_line(console& con, text_id label, std::string_view value) {
  std::string line(text(label, con.encoding));
  line += value;
  print_line(con, line);
}

bool read_word(console& con, std::string* word) {
  std::streambuf* input = con.in.rdbuf();
  using traits = std::streambuf::traits_type;
  int byte = input->sgetc();
  while (byte != traits::eof() && is_whitespace(byte)) byte = input->snextc();
  if (byte == traits::eof()) return false;
  word->clear();
  while (byte != traits::eof() && !is_whitespace(byte)) {
    word->push_back(traits::to_char_type(byte));
    byte = input->snextc();
  }
  return true;
}

read_status read_int(console& con, int32_t* value) {
  std::string word;
  if (!read_word(con, &word)) return read_status::end_of_input;
  const char* first = word.data();
  const char* last = first + word.size();
  // from_chars takes a minus sign but not a plus sign.
  if (first != last && *first == '+' && last - first > 1 && first[1] != '-') ++first;
  int32_t parsed = 0;
  auto [end, error] = std::from_chars(first, last, parsed);
  if (error != std::errc() || end != last) return read_status::not_a_number;
  *value = parsed;
  return read_status::ok;
}

void clear_screen(console& con) {
  if (con.clear) con.clear(con.out);
}
