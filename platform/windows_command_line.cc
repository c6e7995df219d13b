#include "platform/windows_command_line.h"

namespace {

std::wstring quote(const std::wstring& argument) {
  if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos)
    return argument;
  // Backslashes are literal except in a run that ends at a quote: there each
  // one is doubled, and the quote escaped with one more. The closing quote
  // counts as such a quote.
  std::wstring quoted = L"\"";
  std::wstring::size_type backslashes = 0;
  for (wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(backslashes * 2, L'\\');
  quoted += L'"';
  return quoted;
}

}  // namespace

std::wstring windows_command_line(const std::vector<std::wstring>& arguments) {
  std::wstring line;
  for (const std::wstring& argument : arguments) {
    if (!line.empty()) line += L' ';
    line += quote(argument);
  }
  return line;
}
