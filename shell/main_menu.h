// The main menu and the interval dialogue of its item 4.
#ifndef AUTODUMP_SHELL_MAIN_MENU_H_
#define AUTODUMP_SHELL_MAIN_MENU_H_

#include <functional>

#include "settings/backup_settings.h"
#include "shell/console.h"

// Shows the menu and carries out the operator's choices until one ends the
// program. `start_backup` is called for item 2 and is not expected to return.
// Returns the exit status: 0 for item 3, 1 for input that ends (at the menu
// or inside a dialogue) before the automatic backup started. A word too long
// to take ends the input.
int run_main_menu(console& con, backup_settings& settings,
                  const std::function<void()>& start_backup);

#endif  // AUTODUMP_SHELL_MAIN_MENU_H_
