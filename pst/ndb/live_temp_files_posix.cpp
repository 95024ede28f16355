#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cstring>

#include "pst/ndb/live_temp_files.h"

namespace pst::ndb {
namespace {

// A temporary file's name is short (see file_writer.cpp), so each slot holds it in place and a
// signal handler can read it without following a pointer into memory that may be being freed.
constexpr int kSlots = 64;
constexpr std::size_t kNameSize = 64;

enum SlotState : int { kFree = 0, kFilling = 1, kLive = 2 };

struct Slot {
  std::atomic<int> state{kFree};
  int dirFd = -1;
  char name[kNameSize] = {};
};

Slot slots[kSlots];

static_assert(std::atomic<int>::is_always_lock_free, "slots are read from signal handlers");

}  // namespace

// The one place in the writer that calls the system directly rather than through fs::Env: a
// signal handler may only make async-signal-safe calls, and unlinkat on a descriptor taken when the
// writer started is one, while a virtual call into a file layer that may allocate or lock is not.
void RemoveLiveTemporaryFiles() {
  for (Slot& s : slots) {
    if (s.state.load(std::memory_order_acquire) == kLive) ::unlinkat(s.dirFd, s.name, 0);
  }
}

namespace internal {

int RegisterLiveTemporaryFile(const fs::Directory& dir, const std::string& name) {
  const int dirFd = dir.NativeHandle();
  if (dirFd < 0 || name.size() >= kNameSize) return -1;
  for (int i = 0; i < kSlots; ++i) {
    int expected = kFree;
    if (!slots[i].state.compare_exchange_strong(expected, kFilling)) continue;
    slots[i].dirFd = dirFd;
    std::strcpy(slots[i].name, name.c_str());
    slots[i].state.store(kLive, std::memory_order_release);
    return i;
  }
  return -1;
}

void UnregisterLiveTemporaryFile(int slot) {
  if (slot >= 0 && slot < kSlots) slots[slot].state.store(kFree, std::memory_order_release);
}

}  // namespace internal
}  // namespace pst::ndb
