// What the Windows parts of the platform share: the system's words for an
// error, how the ANSI code page's two-byte characters are told apart, and the
// console's input mode as the program found it.
#ifndef AUTODUMP_PLATFORM_WIN32_COMMON_H_
#define AUTODUMP_PLATFORM_WIN32_COMMON_H_

#include <windows.h>

#include <string>

// The system's description of error `code`, without its line end.
std::string system_message(DWORD code);

// "<path>: <the system's description of code>".
std::string describe_error(const std::string& path, DWORD code);

// Whether `byte` starts a two-byte character in the ANSI code page: the byte
// after it may look like a backslash but is not one.
bool is_lead_byte(unsigned char byte);

// Gives the console's input back the mode it had before
// keep_console_from_pausing() changed it; safe to call from any thread, and
// more than once.
void restore_console_mode();

// Lets the program take the console's events (Ctrl-C, closing, logging off)
// itself from now on.
void install_console_handler();

#endif  // AUTODUMP_PLATFORM_WIN32_COMMON_H_
