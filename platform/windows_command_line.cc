#include "platform/windows_command_line.h"

namespace {

std::string quote(const std::string& argument, bool (*is_lead_byte)(unsigned char)) {
  if (!argument.empty() && argument.find_first_of(" \t\n\v\"") == std::string::npos)
    return argument;
  // Backslashes are literal except in a run that ends at a quote: there each
  // one is doubled, and the quote escaped with one more. The closing quote
  // counts as such a quote.
  std::string quoted = "\"";
  std::string::size_type backslashes = 0;
  for (std::string::size_type i = 0; i < argument.size(); ++i) {
    unsigned char byte = static_cast<unsigned char>(argument[i]);
    if (byte == '\\') {
      ++backslashes;
      continue;
    }
    quoted.append(byte == '"' ? backslashes * 2 + 1 : backslashes, '\\');
    backslashes = 0;
    quoted += argument[i];
    if (is_lead_byte(byte) && i + 1 < argument.size()) quoted += argument[++i];
  }
  quoted.append(backslashes * 2, '\\');
  quoted += '"';
  return quoted;
}

}  // namespace

std::string windows_command_line(const std::vector<std::string>& arguments,
                                 bool (*is_lead_byte)(unsigned char)) {
  std::string line;
  for (const std::string& argument : arguments) {
    if (!line.empty()) line += ' ';
    line += quote(argument, is_lead_byte);
  }
  return line;
}
