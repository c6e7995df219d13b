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
  print_line(con, labelled(con, label, value));
}

void print_line(console& con, text_id before, std::string_view value, text_id after) {
  print_line(con, labelled(con, before, value) + std::string(text(after, con.encoding)));
}

std::string labelled(const console& con, text_id label, std::string_view value) {
  std::string line(text(label, con.encoding));
  line += value;
  return line;
}

std::string_view field_name(const console& con, text_id label) {
  std::string_view name = text(label, con.encoding);
  std::string_view colon = text(text_id::label_colon, con.encoding);
  if (name.size() >= colon.size() && name.substr(name.size() - colon.size()) == colon)
    name.remove_suffix(colon.size());
  return name;
}

read_status read_word(console& con, std::string* word) {
  std::streambuf* input = con.in.rdbuf();
  using traits = std::streambuf::traits_type;
  int byte = input->sgetc();
  while (byte != traits::eof() && is_whitespace(byte)) byte = input->snextc();
  if (byte == traits::eof()) return read_status::end_of_input;
  std::string read;
  while (byte != traits::eof() && !is_whitespace(byte)) {
    if (read.size() == max_word_bytes) return read_status::too_long;
    read.push_back(traits::to_char_type(byte));
    byte = input->snextc();
  }
  *word = std::move(read);
  return read_status::ok;
}

void skip_byte_order_mark(console& con) {
  std::streambuf* input = con.in.rdbuf();
  for (unsigned char byte : {0xEF, 0xBB, 0xBF}) {
    if (input->sgetc() != byte) return;
    input->sbumpc();
  }
}

read_status read_int(console& con, int32_t* value) {
  std::string word;
  if (read_status status = read_word(con, &word); status != read_status::ok) return status;
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

text_id input_end_text(read_status status) {
  return status == read_status::too_long ? text_id::input_too_long : text_id::input_ended;
}

void clear_screen(console& con) {
  if (con.clear) con.clear(con.out);
}
