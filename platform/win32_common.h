// What the Windows parts of the platform share: text as Windows takes it
// (UTF-16), and the system's words for an error.
#ifndef AUTODUMP_PLATFORM_WIN32_COMMON_H_
#define AUTODUMP_PLATFORM_WIN32_COMMON_H_

#include <windows.h>

#include <string>
#include <vector>

#include "platform/platform.h"

// The program's one encoding for the run: UTF-8 (65001) on a console whose
// output code page is 65001, GBK (936) otherwise. Typed text arrives in it
// and printed text leaves in it, whatever the system's ANSI code page.
UINT program_code_page();

// `text`, in the program's encoding, as UTF-16. False when it is not valid in
// that encoding or holds a NUL, which no system call can take.
bool to_wide(const std::string& text, std::wstring* wide);
// As above, for text that was checked before (see text_is_usable()) or is
// only shown: each byte that is no text in the encoding becomes U+FFFD.
std::wstring to_wide(const std::string& text);

// `path`, in the program's encoding, as UTF-16 for a call that takes a file
// name. A long one (from MAX_PATH - 12 characters, where creating a folder
// already fails) becomes its full path in the "\\?\" form ("\\?\UNC\" for
// a share), which the calls take up to 32,767 characters, with or without the
// system's long-path switch. False as to_wide() is.
bool to_wide_path(const std::string& path, std::wstring* wide);
std::wstring to_wide_path(const std::string& path);
// The same for a path already in UTF-16.
std::wstring long_form(const std::wstring& path);

// `path`'s full path, as GetFullPathNameW gives it, sized as it says; `path`
// itself where it cannot tell.
std::wstring full_path(const std::wstring& path);

// How many characters of `path` its root takes: the "\\?\" or "\\.\" prefix
// and the drive ("D:"), or a share's server and name ("\\server\share",
// "\\?\UNC\server\share"); 0 for a path relative to the current drive or folder.
std::size_t root_length(const std::wstring& path);

// The path a symbolic link at `link` leads to, from its reparse data (`size`
// bytes of `data`, as FSCTL_GET_REPARSE_POINT gives them): the substitute
// name, which the system follows (the print name is for display only), its
// "\??\" as "\\?\"; a relative one taken from the link's folder, or from its
// drive's root where it begins with a separator. "" where the data hold no
// symbolic link.
std::wstring symbolic_link_target(const std::wstring& link, const BYTE* data, DWORD size);

// UTF-16 typed at the console, in the program's encoding. A character the
// encoding lacks ("ñ" in GBK) becomes a byte that is no text in it (0xFF), so
// that a value holding it is refused (text_is_usable()) rather than used
// changed; never a "?" or a look-alike.
std::string typed_text(const wchar_t* wide, std::size_t length);

// UTF-16 in the program's encoding; characters it lacks become "?".
std::string from_wide(const wchar_t* wide, std::size_t length);
inline std::string from_wide(const std::wstring& wide) {
  return from_wide(wide.data(), wide.size());
}

// A handle as the platform's owning type holds it, and back.
inline HANDLE raw(const scoped_handle& handle) { return reinterpret_cast<HANDLE>(handle.get()); }
inline scoped_handle owned(HANDLE handle) {
  return scoped_handle(reinterpret_cast<std::intptr_t>(handle));
}

// What the token of this process says of `what` (TokenUser, TokenOwner);
// empty where it cannot be told.
std::vector<BYTE> token_information(TOKEN_INFORMATION_CLASS what);

// Whether the file open as `file` (with READ_CONTROL) is owned by this
// program's account: its user, or the owner it gives the files it creates (the
// Administrators, for an administrator's elevated program). With
// `or_administrator`, SYSTEM and the Administrators count as well.
bool owned_by_this_account(HANDLE file, bool or_administrator);

// The system's description of error `code`, without its line end.
std::string system_message(DWORD code);

// Fills `error` (where given) with the system's words for `code` about
// `path`; returns false, for a caller to pass on.
bool failed(os_error* error, const std::string& path, DWORD code,
            error_kind kind = error_kind::other);

#endif  // AUTODUMP_PLATFORM_WIN32_COMMON_H_
