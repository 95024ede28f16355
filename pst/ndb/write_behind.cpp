#include "pst/ndb/write_behind.h"

#include <cerrno>

namespace pst::ndb {

WriteBehind::WriteBehind(fs::WritableFile& file, bool startWriteback)
    : file_(file), startWriteback_(startWriteback), thread_([this] { Run(); }) {}

WriteBehind::~WriteBehind() {
  {
    std::unique_lock<std::mutex> lock(mu_);
    cv_.wait(lock, [this] { return !pending_; });
    stop_ = true;
  }
  cv_.notify_all();
  thread_.join();
}

void WriteBehind::Submit(const std::uint8_t* data, std::size_t size, std::uint64_t offset) {
  {
    std::lock_guard<std::mutex> lock(mu_);
    data_ = data;
    size_ = size;
    offset_ = offset;
    pending_ = true;
  }
  cv_.notify_all();
}

int WriteBehind::Wait() {
  std::unique_lock<std::mutex> lock(mu_);
  cv_.wait(lock, [this] { return !pending_; });
  return error_;
}

void WriteBehind::Run() {
  std::unique_lock<std::mutex> lock(mu_);
  for (;;) {
    cv_.wait(lock, [this] { return pending_ || stop_; });
    if (!pending_) return;  // stop_ with nothing left to do
    const std::uint8_t* p = data_;
    std::size_t left = size_;
    std::uint64_t at = offset_;
    const std::uint64_t start = offset_;
    const std::size_t total = size_;
    const bool failed = error_ != 0;
    lock.unlock();
    int err = 0;
    // After one failure the file is useless; later buffers are not written at all.
    while (!failed && left > 0) {
      std::size_t n = 0;
      err = file_.WriteAt(at, p, left, &n);
      if (err == 0 && n == 0) err = EIO;  // no progress and no reason: never loop on it
      if (err != 0) break;
      p += n;
      left -= n;
      at += n;
    }
    // Only a hint: where the file system cannot, the final flush does all the work as before.
    if (!failed && err == 0 && startWriteback_) file_.StartWriteback(start, total);
    lock.lock();
    if (error_ == 0) error_ = err;
    pending_ = false;
    cv_.notify_all();
  }
}

}  // namespace pst::ndb
