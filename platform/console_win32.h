// The console's input mode, which the program changes while it counts and
// must give back however it ends.
#ifndef AUTODUMP_PLATFORM_CONSOLE_WIN32_H_
#define AUTODUMP_PLATFORM_CONSOLE_WIN32_H_

// Gives the console's input back the mode it had before
// keep_console_from_pausing() changed it; safe to call from any thread, and
// more than once.
void restore_console_mode();

#endif  // AUTODUMP_PLATFORM_CONSOLE_WIN32_H_
