// What the Windows parts of the platform share: the system's words for an
// error, and how the ANSI code page's two-byte characters are told apart.
#ifndef AUTODUMP_PLATFORM_WIN32_ERRORS_H_
#define AUTODUMP_PLATFORM_WIN32_ERRORS_H_

#include <windows.h>

#include <string>

// The system's description of error `code`, without its line end.
std::string system_message(DWORD code);

// "<path>: <the system's description of code>".
std::string describe_error(const std::string& path, DWORD code);

// Whether `byte` starts a two-byte character in the ANSI code page: the byte
// after it may look like a backslash but is not one.
bool is_lead_byte(unsigned char byte);

#endif  // AUTODUMP_PLATFORM_WIN32_ERRORS_H_
