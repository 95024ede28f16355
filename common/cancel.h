// A process-wide request to stop: set from a signal handler or another thread, looked at by the
// long loops that read and decode message files, so that a stop takes effect within a moment even
// in the middle of a huge message.
//
// The flag is a lock-free std::atomic<bool>, so RequestCancel may be called from a signal handler.
// Whoever starts a run clears it; a loop that finds it set gives up with kStoppedByUser.
//
// Example:
//   for (size_t at = 0; at < n; at += kStep) {
//     if (quill::CancelRequested()) return quill::StoppedStatus();
//     ...
//   }
#pragma once

#include <cstddef>

#include "common/status.h"

namespace quill {

// The cause a piece of work cut short by a stop reports.
inline constexpr const char* kStoppedByUser = "stopped by the user";

// Async-signal-safe.
void RequestCancel();
bool CancelRequested();
void ClearCancel();

// Status::Aborted-like failure carrying kStoppedByUser; IsStopped tells it from other failures.
Status StoppedStatus();
bool IsStopped(const Status& status);

// For tests: how many times CancelRequested has been asked since the last reset. Loops that must
// stop promptly are tested by counting that they look often enough.
std::size_t CancelChecks();
void ResetCancelChecks();

}  // namespace quill
