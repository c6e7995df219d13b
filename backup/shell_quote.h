// Quoting for the POSIX shell, so that what the operator typed reaches the
// dump tool as one argument, byte for byte, and can never run anything else.
#ifndef AUTODUMP_BACKUP_SHELL_QUOTE_H_
#define AUTODUMP_BACKUP_SHELL_QUOTE_H_

#include <string>
#include <string_view>

// `value` unchanged when it is made only of letters, digits, bytes from 0x80
// up and _ - . / : @ + = , %; otherwise `value` in single quotes, each ' in it
// written as '\''.
std::string shell_quote(std::string_view value);

#endif  // AUTODUMP_BACKUP_SHELL_QUOTE_H_
