// The command line that starts a Windows program with a given argument list.
#ifndef AUTODUMP_PLATFORM_WINDOWS_COMMAND_LINE_H_
#define AUTODUMP_PLATFORM_WINDOWS_COMMAND_LINE_H_

#include <string>
#include <vector>

// Joins `arguments` with blanks, each quoted where it needs it, so that the
// Microsoft C runtime splits the line back into exactly these arguments.
// `is_lead_byte` tells the first byte of a two-byte character in the ANSI code
// page: the byte after it may look like a backslash but is not one.
std::string windows_command_line(const std::vector<std::string>& arguments,
                                 bool (*is_lead_byte)(unsigned char byte));

#endif  // AUTODUMP_PLATFORM_WINDOWS_COMMAND_LINE_H_
