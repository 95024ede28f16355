#include <windows.h>

#include <atomic>
#include <cstring>
#include <mutex>

#include "fs/win32_text.h"
#include "pst/ndb/live_temp_files.h"

namespace pst::ndb {
namespace {

// A slot holds the whole path in the form DeleteFileW takes, converted when the writer starts, so
// that the clean-up converts and allocates nothing. The console runs its handler on a thread of
// its own while the others go on, so the slots are read as in the POSIX version: a slot is read
// only while it is live, and filled before it becomes so.
constexpr int kSlots = 64;
constexpr std::size_t kPathSize = 1024;

enum SlotState : int { kFree = 0, kFilling = 1, kLive = 2 };

struct Slot {
  std::atomic<int> state{kFree};
  wchar_t path[kPathSize] = {};
};

Slot slots[kSlots];

// Returns FALSE: the event goes on to the next handler, by default the one that ends the process.
// A program that handles the first Ctrl-C itself installs its handler later, which runs first.
BOOL WINAPI OnConsoleEnd(DWORD) {
  RemoveLiveTemporaryFiles();
  return FALSE;
}

}  // namespace

// The file goes at once where the system allows it: the writer's own handle shares deletion, so
// only the name is removed now and the data when that handle closes, at the latest as the process
// ends.
void RemoveLiveTemporaryFiles() {
  for (Slot& s : slots) {
    if (s.state.load(std::memory_order_acquire) == kLive) DeleteFileW(s.path);
  }
}

namespace internal {

int RegisterLiveTemporaryFile(const fs::Directory& dir, const std::string& name) {
  const std::string folder = dir.NativePath();
  std::wstring path;
  if (folder.empty() || !fs::win32::SystemPath(folder + "\\" + name, path) || path.size() >= kPathSize)
    return -1;
  static std::once_flag handlerInstalled;
  std::call_once(handlerInstalled, [] { SetConsoleCtrlHandler(OnConsoleEnd, TRUE); });
  for (int i = 0; i < kSlots; ++i) {
    int expected = kFree;
    if (!slots[i].state.compare_exchange_strong(expected, kFilling)) continue;
    std::memcpy(slots[i].path, path.c_str(), (path.size() + 1) * sizeof(wchar_t));
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
