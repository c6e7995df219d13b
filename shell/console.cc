#include "shell/console.h"

#include <charconv>

namespace {

bool is_whitespace(int byte) {
  return byte == ' ' || byte == '\t' || byte == '\n' || byte == '\v' || byte == '\f' ||
         byte == '\r';
}

void skip_byte_order_mark(std::streambuf* input) {
  for (unsigned char byte : {0xEF, 0xBB, 0xBF}) {
    if (input->sgetc() != byte) return;
    input->sbumpc();
  }
}

}  // namespace

line_level level_of(text_id first) {
  switch (first) {
    case text_id::backup_failed:
    case text_id::backup_not_saved:
    case text_id::backup_busy:
    case text_id::backup_overran:
    case text_id::backup_interrupted:
    case text_id::input_ended:
    case text_id::input_too_long:
      return line_level::error;
    case text_id::backup_waiting_for_holder:
    case text_id::rights_not_kept:
    case text_id::foreign_dump_file:
    case text_id::warning_no_database:
    case text_id::warning_directory_unusable:
    case text_id::warning_dump_file_is_directory:
    case text_id::warning_untrusted_link:
    case text_id::warning_reserved_name:
    case text_id::warning_no_trailing_slash:
    case text_id::warning_no_dump_tool:
    case text_id::warning_too_long:
    case text_id::warning_unusable_value:
    case text_id::warning_unrepresentable:
    case text_id::warning_connection_failed:
      return line_level::warning;
    case text_id::progress_label:
    case text_id::dump_progress:
      return line_level::debug;
    default:
      return line_level::info;
  }
}

void print_line(console& con, std::string_view line, line_level level) {
  // A write that failed (a full disk under a log file) must not silence the
  // lines after it: the stream would otherwise refuse every later write.
  con.out.clear();
  if (con.to_journal) con.out << '<' << static_cast<int>(level) << '>';
  con.out << line << '\n';
  con.out.flush();
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
  std::streambuf* input = con.in.rdbuf();
  if (!con.read_before) skip_byte_order_mark(input);
  con.read_before = true;
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
