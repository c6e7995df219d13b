#include "backup/cadence.h"

namespace {

constexpr int64_t kTickMs = 1000;

}  // namespace

int64_t advance_cadence(cadence* c, int64_t now_ms) {
  if (c->deadline_ms == cadence_not_started) c->deadline_ms = now_ms;
  c->deadline_ms += kTickMs;
  int64_t left = c->deadline_ms - now_ms;
  if (left < -kTickMs || left > kTickMs) {
    c->deadline_ms = now_ms + kTickMs;
    return kTickMs;
  }
  return left > 0 ? left : 0;
}
