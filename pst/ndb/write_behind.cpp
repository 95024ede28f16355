#include "pst/ndb/write_behind.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace pst::ndb {

WriteBehind::WriteBehind(int fd, bool startWriteback, FileOps* ops)
    : fd_(fd), ops_(ops != nullptr ? *ops : PosixFileOps()), startWriteback_(startWriteback), thread_([this] { Run(); }) {}

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
      const ssize_t n = ops_.PWrite(fd_, p, left, static_cast<off_t>(at));
      if (n < 0) {
        if (errno == EINTR) continue;
        err = errno;
        break;
      }
      p += n;
      left -= static_cast<std::size_t>(n);
      at += static_cast<std::uint64_t>(n);
    }
    // Only a hint: where the file system cannot, the final flush does all the work as before.
    if (!failed && err == 0 && startWriteback_) {
      ::sync_file_range(fd_, static_cast<off_t>(start), static_cast<off_t>(total), SYNC_FILE_RANGE_WRITE);
    }
    lock.lock();
    if (error_ == 0) error_ = err;
    pending_ = false;
    cv_.notify_all();
  }
}

}  // namespace pst::ndb
