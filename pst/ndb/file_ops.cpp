#include "pst/ndb/file_ops.h"

#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <cerrno>

namespace pst::ndb {

int FileOps::OpenAt(int dirFd, const char* name, int flags, mode_t mode) {
  return ::openat(dirFd, name, flags, mode);
}
ssize_t FileOps::PWrite(int fd, const void* data, std::size_t size, off_t offset) {
  return ::pwrite(fd, data, size, offset);
}
ssize_t FileOps::PRead(int fd, void* data, std::size_t size, off_t offset) { return ::pread(fd, data, size, offset); }
int FileOps::FSync(int fd) { return ::fsync(fd); }
int FileOps::FTruncate(int fd, off_t size) { return ::ftruncate(fd, size); }
int FileOps::RenameAt(int dirFd, const char* from, const char* to, unsigned flags) {
  return ::renameat2(dirFd, from, dirFd, to, flags);
}
int FileOps::LinkAt(int dirFd, const char* from, const char* to) { return ::linkat(dirFd, from, dirFd, to, 0); }
int FileOps::Close(int fd) { return ::close(fd); }

FileOps& PosixFileOps() {
  static FileOps ops;
  return ops;
}

void FaultyFileOps::FailCall(std::uint64_t n, int err, Fault fault) {
  std::lock_guard<std::mutex> lock(mu_);
  calls_ = 0;
  target_ = n;
  err_ = err;
  fault_ = fault;
  failNextWrite_ = false;
  faulted_.clear();
}

std::string FaultyFileOps::faulted() const {
  std::lock_guard<std::mutex> lock(mu_);
  return faulted_;
}

bool FaultyFileOps::Hit(const char* what, bool* shortWrite) {
  if (shortWrite != nullptr && failNextWrite_.exchange(false)) {
    errno = err_;
    return true;
  }
  const std::uint64_t n = ++calls_;
  std::lock_guard<std::mutex> lock(mu_);
  if (n != target_) return false;
  faulted_ = what;
  if (fault_ == Fault::kError) {
    errno = err_;
    return true;
  }
  // A short write only means something for writes; any other call goes through.
  if (shortWrite != nullptr) {
    *shortWrite = true;
    failNextWrite_ = fault_ == Fault::kShortThenError;
  }
  return false;
}

int FaultyFileOps::OpenAt(int dirFd, const char* name, int flags, mode_t mode) {
  return Hit("open") ? -1 : FileOps::OpenAt(dirFd, name, flags, mode);
}

ssize_t FaultyFileOps::PWrite(int fd, const void* data, std::size_t size, off_t offset) {
  bool shortWrite = false;
  if (Hit("write", &shortWrite)) return -1;
  if (shortWrite && size > 1) size /= 2;
  return FileOps::PWrite(fd, data, size, offset);
}

ssize_t FaultyFileOps::PRead(int fd, void* data, std::size_t size, off_t offset) {
  return Hit("read") ? -1 : FileOps::PRead(fd, data, size, offset);
}

int FaultyFileOps::FSync(int fd) { return Hit("sync") ? -1 : FileOps::FSync(fd); }

int FaultyFileOps::FTruncate(int fd, off_t size) { return Hit("resize") ? -1 : FileOps::FTruncate(fd, size); }

int FaultyFileOps::RenameAt(int dirFd, const char* from, const char* to, unsigned flags) {
  return Hit("rename") ? -1 : FileOps::RenameAt(dirFd, from, to, flags);
}

int FaultyFileOps::LinkAt(int dirFd, const char* from, const char* to) {
  return Hit("link") ? -1 : FileOps::LinkAt(dirFd, from, to);
}

int FaultyFileOps::Close(int fd) {
  // A close that reports an error (as NFS does for a failed write-back) still closes.
  if (Hit("close")) {
    const int err = errno;
    FileOps::Close(fd);
    errno = err;
    return -1;
  }
  return FileOps::Close(fd);
}

}  // namespace pst::ndb
