#include "backup/shell_quote.h"

#include <algorithm>

namespace {

bool is_plain(unsigned char byte) {
  if (byte >= 0x80) return true;
  if ((byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') || (byte >= '0' && byte <= '9'))
    return true;
  return std::string_view("_-./:@+=,%").find(static_cast<char>(byte)) != std::string_view::npos;
}

}  // namespace

std::string shell_quote(std::string_view value) {
  if (std::all_of(value.begin(), value.end(), [](char c) { return is_plain(c); }))
    return std::string(value);
  std::string quoted = "'";
  for (char c : value) {
    if (c == '\'')
      quoted += "'\\''";
    else
      quoted += c;
  }
  quoted += '\'';
  return quoted;
}
