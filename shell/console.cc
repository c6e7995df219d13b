#include "shell/console.h"

#include <charconv>

#include "platform/platform.h"

namespace {

bool is_whitespace(int byte) {
  return byte == ' ' || byte == '\t' || byte == '\n' || byte == '\v' || byte == '\f' ||
         byte == '\r';
}

void skip_byte_order_mark(console_io& io) {
  for (int byte : {0xEF, 0xBB, 0xBF}) {
    if (io.peek() != byte) return;
    io.take();
  }
}

class platform_io : public console_io {
 public:
  int peek() override { return peek_input_byte(); }
  void take() override { take_input_byte(); }
  void write(std::string_view bytes) override { write_output(bytes); }
};

}  // namespace

console_io& standard_io() {
  static platform_io io;
  return io;
}

void print_line(console& con, std::string_view line, line_level level) {
  std::string whole;
  if (con.to_journal) whole = "<" + std::to_string(static_cast<int>(level)) + ">";
  whole.append(line);
  whole += '\n';
  // One write: a journal or a log never gets half a line.
  con.io.write(whole);
}

void print_line(console& con, text_id id) { print_line(con, text(id, con.encoding), level_of(id)); }

void print_line(console& con, text_id label, std::string_view value) {
  print_line(con, labelled(con, label, value), level_of(label));
}

void print_line(console& con, text_id before, std::string_view value, text_id after) {
  print_line(con, keep_line(con, before, value, after));
}

kept_line keep_line(const console& con, text_id label, std::string_view value) {
  return {labelled(con, label, value), level_of(label)};
}

kept_line keep_line(const console& con, text_id before, std::string_view value, text_id after) {
  kept_line line = keep_line(con, before, value);
  line.text += text(after, con.encoding);
  return line;
}

void print_line(console& con, const kept_line& line) { print_line(con, line.text, line.level); }

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
  console_io& input = con.io;
  if (!con.read_before) skip_byte_order_mark(input);
  con.read_before = true;
  auto next = [&input] {
    input.take();
    return input.peek();
  };
  int byte = input.peek();
  while (byte != -1 && is_whitespace(byte)) byte = next();
  if (byte == -1) return read_status::end_of_input;
  std::string read;
  while (byte != -1 && !is_whitespace(byte)) {
    if (read.size() == max_word_bytes) return read_status::too_long;
    read.push_back(static_cast<char>(byte));
    byte = next();
  }
  *word = std::move(read);
  return read_status::ok;
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
  if (con.clear) con.clear(con.io);
}
