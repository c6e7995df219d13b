// Undoing what a step did on every path out of it, a throw included: the
// ending signals held, a temporary file claimed, an option file handed over.
#ifndef AUTODUMP_BACKUP_SCOPE_GUARD_H_
#define AUTODUMP_BACKUP_SCOPE_GUARD_H_

#include <functional>
#include <utility>

class scope_guard {
 public:
  explicit scope_guard(std::function<void()> undo) : undo_(std::move(undo)) {}
  ~scope_guard() {
    if (undo_) undo_();
  }
  scope_guard(const scope_guard&) = delete;
  scope_guard& operator=(const scope_guard&) = delete;

  // The step is done, and not to be undone.
  void dismiss() { undo_ = nullptr; }

 private:
  std::function<void()> undo_;
};

#endif  // AUTODUMP_BACKUP_SCOPE_GUARD_H_
