#include "shell/main_menu.h"

#include <string>

#include "settings/configure_database.h"

namespace {

constexpr text_id kMenu[] = {text_id::menu_title, text_id::menu_item_1, text_id::menu_item_2,
                             text_id::menu_item_3, text_id::menu_item_4};

void print_menu(console& con) {
  for (text_id line : kMenu) print_line(con, line);
}

// Asks until a whole number of days in range arrives. Returns ok, or how the
// input ended first; the interval then keeps its old value.
read_status ask_backup_interval(console& con, backup_settings& settings) {
  for (;;) {
    print_line(con, text_id::interval_question);
    int32_t days = 0;
    read_status status = read_int(con, &days);
    if (status == read_status::end_of_input || status == read_status::too_long) return status;
    if (status == read_status::ok && days >= 1 && days <= max_interval_days) {
      set_backup_interval(settings, days);
      print_line(con, text_id::interval_done);
      return status;
    }
    print_line(con, text_id::interval_refused, std::to_string(max_interval_days),
               text_id::interval_refused_end);
  }
}

}  // namespace

int run_main_menu(console& con, backup_settings& settings,
                  const std::function<void()>& start_backup) {
  print_menu(con);
  for (;;) {
    print_line(con, text_id::menu_prompt);
    int32_t choice = 0;
    read_status status = read_int(con, &choice);
    // Answers that end before the automatic backup leave nothing running:
    // a failure, for a service manager to see.
    if (status == read_status::end_of_input || status == read_status::too_long) {
      print_line(con, input_end_text(status));
      return 1;
    }
    if (status == read_status::not_a_number) continue;
    read_status answered = read_status::ok;
    switch (choice) {
      case 1:
        clear_screen(con);
        answered = configure_database(con, settings);
        break;
      case 2:
        start_backup();
        continue;
      case 3:
        return 0;
      case 4:
        clear_screen(con);
        answered = ask_backup_interval(con, settings);
        break;
      default:
        continue;
    }
    if (answered != read_status::ok) {
      print_line(con, input_end_text(answered));
      return 1;
    }
    print_menu(con);
  }
}
