// What the Windows parts of the platform share: text as Windows takes it
// (UTF-16), the system's words for an error, and the console's input mode as
// the program found it.
#ifndef AUTODUMP_PLATFORM_WIN32_COMMON_H_
#define AUTODUMP_PLATFORM_WIN32_COMMON_H_

#include <windows.h>

#include <string>

// The program's one encoding for the run: UTF-8 (65001) on a console whose
// output code page is 65001, GBK (936) otherwise. Typed text arrives in it
// and printed text leaves in it, whatever the system's ANSI code page.
UINT program_code_page();

// `text`, in the program's encoding, as UTF-16. False when it is not valid in
// that encoding or holds a NUL, which no system call can take.
bool to_wide(const std::string& text, std::wstring* wide);
// As above, for text that was checked before (see text_error()) or is only
// shown: each byte that is no text in the encoding becomes U+FFFD.
std::wstring to_wide(const std::string& text);

// UTF-16 in the program's encoding; characters it lacks become "?".
std::string from_wide(const wchar_t* wide, std::size_t length);
inline std::string from_wide(const std::wstring& wide) {
  return from_wide(wide.data(), wide.size());
}

// The system's description of error `code`, without its line end.
std::string system_message(DWORD code);

// "<path>: <the system's description of code>".
std::string describe_error(const std::string& path, DWORD code);

// The full path of the program `name` (".exe" added where it has no suffix),
// looked for where CreateProcess looks for a bare name: this program's folder,
// the current folder (unless NoDefaultCurrentDirectoryInExePath is set), the
// system folders, then PATH; "" when it is nowhere.
std::wstring find_program(const std::wstring& name);

// Gives the console's input back the mode it had before
// keep_console_from_pausing() changed it; safe to call from any thread, and
// more than once.
void restore_console_mode();

// Lets the program take the console's events (Ctrl-C, closing, logging off)
// itself from now on.
void install_console_handler();

#endif  // AUTODUMP_PLATFORM_WIN32_COMMON_H_
