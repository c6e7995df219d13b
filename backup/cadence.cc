#include "backup/cadence.h"

int64_t advance_cadence(cadence* c, int64_t now_ms) {
  if (c->deadline_ms == cadence_not_started) c->deadline_ms = now_ms;
  c->deadline_ms += second_ms;
  int64_t left = c->deadline_ms - now_ms;
  if (left < -second_ms || left > second_ms) {
    c->deadline_ms = now_ms + second_ms;
    return second_ms;
  }
  return left > 0 ? left : 0;
}
