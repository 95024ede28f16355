// WriteBehind: writes one buffer at a time to a file on a helper thread.
//
// The file writer fills one buffer while the system copies the previous one into its cache (and,
// once too much is dirty, waits for the disk); doing both at once is what brings the writer close
// to the speed of a plain copy. Only one write is ever pending, so the order of writes is kept.
//
// A file that will be flushed to disk at the end can have each buffer's write-back started as soon
// as it is written: the disk then works while the store is being built, and the final flush waits
// only for the last few buffers instead of for the whole file.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <thread>

#include "fs/env.h"

namespace pst::ndb {

class WriteBehind {
 public:
  // `file` must outlive the object, which does not own it.
  explicit WriteBehind(fs::WritableFile& file, bool startWriteback = false);
  ~WriteBehind();  // waits for the pending write, then stops the thread
  WriteBehind(const WriteBehind&) = delete;
  WriteBehind& operator=(const WriteBehind&) = delete;

  // Starts writing data[0..size) at `offset`. The caller leaves `data` alone until Wait() returns.
  // REQUIRES: no write pending (Wait() called since the last Submit).
  void Submit(const std::uint8_t* data, std::size_t size, std::uint64_t offset);

  // Waits for the pending write, if any. Returns 0, or the errno of the first failed write (which
  // stays reported by every later call).
  int Wait();

 private:
  void Run();

  fs::WritableFile& file_;
  const bool startWriteback_;
  std::mutex mu_;
  std::condition_variable cv_;
  const std::uint8_t* data_ = nullptr;
  std::size_t size_ = 0;
  std::uint64_t offset_ = 0;
  bool pending_ = false;
  bool stop_ = false;
  int error_ = 0;
  std::thread thread_;
};

}  // namespace pst::ndb
