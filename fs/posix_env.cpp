// The POSIX file layer. Paths and names are byte strings handed to the system as they are; every
// descriptor is opened close-on-exec, and EINTR is retried here so that no caller has to.
#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "fs/env.h"

namespace fs {
namespace {

FileInfo InfoOf(const struct stat& st) {
  FileInfo info;
  info.kind = S_ISREG(st.st_mode)   ? FileInfo::Kind::kRegular
              : S_ISDIR(st.st_mode) ? FileInfo::Kind::kDirectory
                                    : FileInfo::Kind::kOther;
  info.size = st.st_size > 0 ? static_cast<std::uint64_t>(st.st_size) : 0;
  info.device = static_cast<std::uint64_t>(st.st_dev);
  info.inode = static_cast<std::uint64_t>(st.st_ino);
  info.permissions = st.st_mode & 07777;
  info.links = static_cast<std::uint32_t>(st.st_nlink);
  info.modified = static_cast<std::int64_t>(st.st_mtime);
  return info;
}

int StatResult(int rc, const struct stat& st, FileInfo* info) {
  if (rc != 0) return errno;
  *info = InfoOf(st);
  return 0;
}

// The answer of a call that returns -1 and sets errno.
int Answer(int rc) { return rc == 0 ? 0 : errno; }

// Both kinds of open file read at an offset the same way.
int PreadAt(int fd, std::uint64_t offset, void* data, std::size_t size, std::size_t* got) {
  ssize_t n;
  do n = ::pread(fd, data, size, static_cast<off_t>(offset));
  while (n < 0 && errno == EINTR);
  *got = n > 0 ? static_cast<std::size_t>(n) : 0;
  return n < 0 ? errno : 0;
}

// The process's file-creation mask as /proc/self/status tells it ("Umask:\t0022"), read without
// changing it, so that other threads creating files meanwhile are not affected.
bool UmaskFromProc(mode_t* mask) {
  const int fd = ::open("/proc/self/status", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char text[4096];
  std::size_t used = 0;
  for (;;) {
    const ssize_t got = ::read(fd, text + used, sizeof text - 1 - used);
    if (got <= 0) break;
    used += static_cast<std::size_t>(got);
    if (used == sizeof text - 1) break;
  }
  ::close(fd);
  text[used] = '\0';
  const char* line = std::strstr(text, "\nUmask:");
  if (line == nullptr) return false;
  char* end = nullptr;
  const unsigned long value = std::strtoul(line + 7, &end, 8);
  if (end == line + 7 || value > 0777) return false;
  *mask = static_cast<mode_t>(value);
  return true;
}

class PosixReadableFile final : public ReadableFile {
 public:
  explicit PosixReadableFile(int fd) : fd_(fd) {}
  ~PosixReadableFile() override { ::close(fd_); }

  int Read(void* data, std::size_t size, std::size_t* got) override {
    ssize_t n;
    do n = ::read(fd_, data, size);
    while (n < 0 && errno == EINTR);
    *got = n > 0 ? static_cast<std::size_t>(n) : 0;
    return n < 0 ? errno : 0;
  }
  int ReadAt(std::uint64_t offset, void* data, std::size_t size, std::size_t* got) override {
    return PreadAt(fd_, offset, data, size, got);
  }

 private:
  const int fd_;
};

class PosixWritableFile final : public WritableFile {
 public:
  explicit PosixWritableFile(int fd) : fd_(fd) {}
  ~PosixWritableFile() override {
    if (fd_ >= 0) ::close(fd_);
  }

  int WriteAt(std::uint64_t offset, const void* data, std::size_t size, std::size_t* written) override {
    ssize_t n;
    do n = ::pwrite(fd_, data, size, static_cast<off_t>(offset));
    while (n < 0 && errno == EINTR);
    *written = n > 0 ? static_cast<std::size_t>(n) : 0;
    return n < 0 ? errno : 0;
  }
  int ReadAt(std::uint64_t offset, void* data, std::size_t size, std::size_t* got) override {
    return PreadAt(fd_, offset, data, size, got);
  }
  int Truncate(std::uint64_t size) override { return Answer(::ftruncate(fd_, static_cast<off_t>(size))); }
  int Sync() override { return Answer(::fsync(fd_)); }
  void StartWriteback(std::uint64_t offset, std::uint64_t size) override {
    ::sync_file_range(fd_, static_cast<off_t>(offset), static_cast<off_t>(size), SYNC_FILE_RANGE_WRITE);
  }
  int Stat(FileInfo* info) override {
    struct stat st {};
    return StatResult(::fstat(fd_, &st), st, info);
  }
  int SetPermissions(std::uint32_t permissions) override { return Answer(::fchmod(fd_, permissions)); }
  int TryLock() override {
    int rc;
    do rc = ::flock(fd_, LOCK_EX | LOCK_NB);
    while (rc != 0 && errno == EINTR);
    return Answer(rc);
  }
  int CheckClose() override {
    // Closing a second descriptor reports what closing the file would, and the first keeps the lock.
    const int probe = ::dup(fd_);
    if (probe < 0) return errno;
    return Answer(::close(probe));
  }
  int Close() override {
    if (fd_ < 0) return EBADF;
    const int rc = ::close(fd_);
    fd_ = -1;
    return Answer(rc);
  }

 private:
  int fd_;
};

class PosixDirectory final : public Directory {
 public:
  explicit PosixDirectory(int fd) : fd_(fd) {}
  ~PosixDirectory() override { ::close(fd_); }

  int Stat(const std::string& name, bool followLinks, FileInfo* info) override {
    struct stat st {};
    return StatResult(::fstatat(fd_, name.c_str(), &st, followLinks ? 0 : AT_SYMLINK_NOFOLLOW), st, info);
  }
  int OpenFile(const std::string& name, OpenMode mode, std::uint32_t permissions,
               std::unique_ptr<WritableFile>* file) override {
    const int flags = mode == OpenMode::kCreateOrOpen ? O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC
                                                      : O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
    int fd;
    do fd = ::openat(fd_, name.c_str(), flags, static_cast<mode_t>(permissions));
    while (fd < 0 && errno == EINTR);
    if (fd < 0) return errno;
    *file = std::make_unique<PosixWritableFile>(fd);
    return 0;
  }
  int Rename(const std::string& from, const std::string& to, bool replace) override {
    return Answer(::renameat2(fd_, from.c_str(), fd_, to.c_str(), replace ? 0 : RENAME_NOREPLACE));
  }
  int Link(const std::string& from, const std::string& to) override {
    return Answer(::linkat(fd_, from.c_str(), fd_, to.c_str(), 0));
  }
  int Remove(const std::string& name) override { return Answer(::unlinkat(fd_, name.c_str(), 0)); }
  int List(std::vector<std::string>* names) override {
    names->clear();
    // A descriptor opened with O_PATH (a folder we may not list) cannot be read: EBADF, which
    // means no more than that here.
    const int listFd = ::openat(fd_, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (listFd < 0) return errno;
    DIR* dir = ::fdopendir(listFd);
    if (dir == nullptr) {
      const int err = errno;
      ::close(listFd);
      return err;
    }
    errno = 0;
    while (const dirent* e = ::readdir(dir)) {
      if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) names->push_back(e->d_name);
    }
    const int err = errno;
    ::closedir(dir);
    return err;
  }
  int Sync() override { return Answer(::fsync(fd_)); }
  int NativeHandle() const override { return fd_; }

 private:
  const int fd_;
};

class PosixFileSystem final : public Env {
 public:
  int Stat(const std::string& path, bool followLinks, FileInfo* info) override {
    struct stat st {};
    return StatResult(followLinks ? ::stat(path.c_str(), &st) : ::lstat(path.c_str(), &st), st, info);
  }

  int OpenForReading(const std::string& path, std::unique_ptr<ReadableFile>* file, FileInfo* info) override {
    int fd;
    do fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    while (fd < 0 && errno == EINTR);
    if (fd < 0) {
      const int err = errno;
      struct stat st {};
      if ((err == ENXIO || err == ENODEV) && ::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        return kNotRegularFile;  // a socket, or a device without its driver
      }
      return err;
    }
    auto reader = std::make_unique<PosixReadableFile>(fd);
    struct stat st {};
    if (::fstat(fd, &st) != 0) return errno;
    if (S_ISDIR(st.st_mode)) return EISDIR;
    if (!S_ISREG(st.st_mode)) return kNotRegularFile;
    // A regular file never blocks, but reads from here on should wait for the disk as usual.
    if (const int flags = ::fcntl(fd, F_GETFL); flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
      return errno;
    }
    *info = InfoOf(st);
    *file = std::move(reader);
    return 0;
  }

  int OpenDirectory(const std::string& path, std::unique_ptr<Directory>* dir) override {
    int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    // A folder we may write in but not list (mode 0300): the *at calls need only a path descriptor.
    if (fd < 0 && errno == EACCES) fd = ::open(path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return errno;
    *dir = std::make_unique<PosixDirectory>(fd);
    return 0;
  }

  int CreateDirectory(const std::string& path) override { return Answer(::mkdir(path.c_str(), 0777)); }

  std::uint32_t NewFilePermissions() override {
    mode_t mask = 0;
    if (!UmaskFromProc(&mask)) {
      // Without /proc (or on a kernel before 4.7) the mask can only be read by setting it; a
      // file another thread creates in between gets the full permissions.
      mask = ::umask(0);
      ::umask(mask);
    }
    return 0666 & ~mask;
  }
};

}  // namespace

Env& PosixEnv() {
  static PosixFileSystem env;
  return env;
}

Env& SystemEnv() { return PosixEnv(); }

}  // namespace fs
