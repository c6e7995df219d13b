// The console's events, which end programs.
#ifndef AUTODUMP_PLATFORM_PROGRAMS_WIN32_H_
#define AUTODUMP_PLATFORM_PROGRAMS_WIN32_H_

// Lets the program take the console's events (Ctrl-C, closing, logging off)
// itself from now on.
void install_console_handler();

#endif  // AUTODUMP_PLATFORM_PROGRAMS_WIN32_H_
