// FileOps: the file system calls through which the file writer changes the disk.
//
// Each member does exactly what the POSIX call of the same name does and answers the same way
// (-1 with errno set on failure). The writer makes every write, read-back, flush, resize, rename
// and link through one of these, so that a test can hand it FaultyFileOps and make any single one
// of those calls fail, or a write come up short, and see that the writer copes.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

namespace pst::ndb {

class FileOps {
 public:
  virtual ~FileOps() = default;
  virtual int OpenAt(int dirFd, const char* name, int flags, mode_t mode);
  virtual ssize_t PWrite(int fd, const void* data, std::size_t size, off_t offset);
  virtual ssize_t PRead(int fd, void* data, std::size_t size, off_t offset);
  virtual int FSync(int fd);
  virtual int FTruncate(int fd, off_t size);
  // renameat2() within one folder; flags as there (0 or RENAME_NOREPLACE).
  virtual int RenameAt(int dirFd, const char* from, const char* to, unsigned flags);
  virtual int LinkAt(int dirFd, const char* from, const char* to);
  virtual int Close(int fd);
};

// The plain system calls. Shared by every writer that is given no FileOps of its own.
FileOps& PosixFileOps();

// FileOps that fails one chosen call, counting every call of every kind from 1. Thread-safe: the
// writer writes from two threads.
//
//   FaultyFileOps ops;
//   ops.FailCall(7, ENOSPC);           // the 7th call fails with ENOSPC, whatever it is
//   ops.FailCall(3, EIO, FaultyFileOps::Fault::kShortThenError);
class FaultyFileOps : public FileOps {
 public:
  enum class Fault {
    kError,           // the call fails with the errno
    kShort,           // a write writes only part of its bytes and says so; others go through
    kShortThenError,  // a write comes up short and the write after it fails (a disk filling up)
  };

  // Arms one fault; 0 disarms. Resets the counters.
  void FailCall(std::uint64_t n, int err, Fault fault = Fault::kError);
  // Calls made since the last FailCall (or construction).
  std::uint64_t calls() const { return calls_.load(); }
  // What the armed call turned out to be ("write", "rename", ...); empty until it has been made.
  std::string faulted() const;

  int OpenAt(int dirFd, const char* name, int flags, mode_t mode) override;
  ssize_t PWrite(int fd, const void* data, std::size_t size, off_t offset) override;
  ssize_t PRead(int fd, void* data, std::size_t size, off_t offset) override;
  int FSync(int fd) override;
  int FTruncate(int fd, off_t size) override;
  int RenameAt(int dirFd, const char* from, const char* to, unsigned flags) override;
  int LinkAt(int dirFd, const char* from, const char* to) override;
  int Close(int fd) override;

 private:
  // Counts the call; true when it is the one to fail (errno is then set).
  bool Hit(const char* what, bool* shortWrite = nullptr);

  std::atomic<std::uint64_t> calls_{0};
  std::uint64_t target_ = 0;
  int err_ = 0;
  Fault fault_ = Fault::kError;
  std::atomic<bool> failNextWrite_{false};
  mutable std::mutex mu_;
  std::string faulted_;
};

}  // namespace pst::ndb
