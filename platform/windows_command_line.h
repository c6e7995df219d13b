// The command line that starts a Windows program with a given argument list.
#ifndef AUTODUMP_PLATFORM_WINDOWS_COMMAND_LINE_H_
#define AUTODUMP_PLATFORM_WINDOWS_COMMAND_LINE_H_

#include <string>
#include <vector>

// Joins `arguments` with blanks, each quoted where it needs it, so that the
// Microsoft C runtime splits the line back into exactly these arguments.
std::wstring windows_command_line(const std::vector<std::wstring>& arguments);

#endif  // AUTODUMP_PLATFORM_WINDOWS_COMMAND_LINE_H_
