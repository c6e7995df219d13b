// A steady one-second cadence: each tick comes one second after the previous
// tick's deadline, so that neither a tick's own work nor a late wake-up adds up
// over the days.
#ifndef AUTODUMP_BACKUP_CADENCE_H_
#define AUTODUMP_BACKUP_CADENCE_H_

#include <cstdint>

struct cadence {
  int64_t deadline_ms;  // when the last tick was due, on a monotonic clock
};

// Moves the cadence on to the next tick and returns how long it is until then,
// given the time now. More than a tick behind (after a dump, a suspended
// machine, a stopped process) or a clock that went back, the cadence starts
// again from now: one second of sleep, never a burst of catch-up ticks.
int64_t advance_cadence(cadence* c, int64_t now_ms);

#endif  // AUTODUMP_BACKUP_CADENCE_H_
