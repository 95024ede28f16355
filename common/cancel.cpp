#include "common/cancel.h"

#include <atomic>

namespace quill {
namespace {

std::atomic<bool> cancel_requested{false};
// Counted only for tests; relaxed, so the count costs the loops nearly nothing.
std::atomic<std::size_t> cancel_checks{0};

static_assert(std::atomic<bool>::is_always_lock_free, "RequestCancel must be safe in a signal handler");

}  // namespace

void RequestCancel() { cancel_requested.store(true, std::memory_order_relaxed); }

bool CancelRequested() {
  cancel_checks.fetch_add(1, std::memory_order_relaxed);
  return cancel_requested.load(std::memory_order_relaxed);
}

void ClearCancel() { cancel_requested.store(false, std::memory_order_relaxed); }

Status StoppedStatus() { return Status::IOError(kStoppedByUser); }

bool IsStopped(const Status& status) { return !status.ok() && status.message() == kStoppedByUser; }

std::size_t CancelChecks() { return cancel_checks.load(std::memory_order_relaxed); }
void ResetCancelChecks() { cancel_checks.store(0, std::memory_order_relaxed); }

}  // namespace quill
