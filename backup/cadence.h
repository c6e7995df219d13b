// A steady one-second cadence: each tick comes one second after the previous
// tick's deadline, so that neither a tick's own work nor a late wake-up adds up
// over the days.
#ifndef AUTODUMP_BACKUP_CADENCE_H_
#define AUTODUMP_BACKUP_CADENCE_H_

#include <cstdint>

// A second: the cadence's tick, and the unit every count shows.
constexpr int64_t second_ms = 1000;

// A cadence whose first tick has not come yet.
constexpr int64_t cadence_not_started = INT64_MIN;

struct cadence {
  // When the last tick was due, on a monotonic clock.
  int64_t deadline_ms = cadence_not_started;
};

// Moves the cadence on to the next tick and returns how long it is until then,
// given the time now. A cadence not started yet starts now: its first tick is
// the one just done, however long what came before it took. More than a tick
// behind (after a dump, a suspended machine, a stopped process) or a clock
// that went back, the cadence starts again from now: one second of sleep,
// never a burst of catch-up ticks.
int64_t advance_cadence(cadence* c, int64_t now_ms);

#endif  // AUTODUMP_BACKUP_CADENCE_H_
