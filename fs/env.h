// Env: the file layer. Every call the converter makes to the system about a file's contents, or
// about a file by name (open, read, write, flush, lock, rename, link, remove, look up), goes
// through one of these, so that the code above runs unchanged on another system, on a file system
// kept in memory, or on one that fails on purpose.
//
//   fs::Env& env = fs::PosixEnv();
//   std::unique_ptr<fs::Directory> dir;
//   if (int err = env.OpenDirectory("/x", &dir); err != 0) ... strerror(err) ...
//   std::unique_ptr<fs::WritableFile> file;
//   err = dir->OpenFile("out.tmp", fs::OpenMode::kCreateOrOpen, 0600, &file);
//
// Answers: every call returns 0 or the system's error number (ENOENT, EACCES, ENOSPC, ...), which
// callers word with their own path and verb ("write failed (No space left on device): x.pst").
// A system whose own codes differ (Win32) answers with the errno value its C runtime maps them to.
// The one answer beyond errno values is kNotRegularFile.
//
// The directory search in file_search.h is the other half of fs/'s system calls; it keeps its own
// interface because the folder walk's semantics (Windows-style patterns) live there.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace fs {

// A path that exists but leads to something other than a regular file or folder (a FIFO, socket
// or device). Not an errno value; ErrorText gives "not a regular file".
inline constexpr int kNotRegularFile = 0x10000;

// strerror(err), or the text of kNotRegularFile.
std::string ErrorText(int err);

// What a name leads to, as the system says at the moment of asking.
struct FileInfo {
  enum class Kind { kRegular, kDirectory, kOther };
  Kind kind = Kind::kOther;
  std::uint64_t size = 0;
  // Together they tell one file from another, whatever its names.
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  std::uint32_t permissions = 0;  // the 07777 bits
  std::uint32_t links = 1;
  std::int64_t modified = 0;  // seconds since 1970-01-01 UTC

  bool SameFile(const FileInfo& other) const { return device == other.device && inode == other.inode; }
};

// An open regular file read from the start (Read) or anywhere (ReadAt). Closed when destroyed.
class ReadableFile {
 public:
  virtual ~ReadableFile() = default;
  // Reads up to `size` bytes from where the last Read stopped; *got is 0 at the end of the file.
  virtual int Read(void* data, std::size_t size, std::size_t* got) = 0;
  // Reads up to `size` bytes at `offset`; *got may be short, and is 0 past the end.
  virtual int ReadAt(std::uint64_t offset, void* data, std::size_t size, std::size_t* got) = 0;
};

// An open file that is written at offsets, as a store file is: blocks go to their places, and
// the header at the start is written last. Closed when destroyed, if Close was not called.
// Writes from one thread and reads from another at once are allowed; each call is one system call.
class WritableFile {
 public:
  virtual ~WritableFile() = default;
  // Writes up to `size` bytes at `offset`; *written may be short (a disk filling up), in which
  // case the caller writes the rest again and learns the reason from that call.
  virtual int WriteAt(std::uint64_t offset, const void* data, std::size_t size, std::size_t* written) = 0;
  virtual int ReadAt(std::uint64_t offset, void* data, std::size_t size, std::size_t* got) = 0;
  // Cuts or extends (with zeros) the file to `size` bytes.
  virtual int Truncate(std::uint64_t size) = 0;
  // Returns once the file's data is on stable storage.
  virtual int Sync() = 0;
  // A hint that [offset, offset + size) may start going to the disk now. Failure is not an error:
  // Sync at the end does all the work then.
  virtual void StartWriteback(std::uint64_t offset, std::uint64_t size) = 0;
  virtual int Stat(FileInfo* info) = 0;
  virtual int SetPermissions(std::uint32_t permissions) = 0;
  // Takes the file's advisory lock for this open file, which lasts until it is closed: 0,
  // EWOULDBLOCK when another open file (of any process) holds it, or another error when the file
  // system keeps no locks.
  virtual int TryLock() = 0;
  // What closing the file would report (a network file system's failed write-back), while the file
  // stays open and locked.
  virtual int CheckClose() = 0;
  // Closes the file; the lock goes with it. Every later call fails with EBADF.
  virtual int Close() = 0;
};

enum class OpenMode {
  // Read and write; created (with the given permissions) when missing. A link is not followed.
  kCreateOrOpen,
  // Read only, an existing name; a link is not followed and the open never blocks. For looking
  // at a file and taking its lock: writes fail with EBADF.
  kExistingForLocking,
};

// A folder held open: the names given to its calls are entries in it, however the folder is
// renamed or its path changes meanwhile. Closed when destroyed.
class Directory {
 public:
  virtual ~Directory() = default;
  virtual int Stat(const std::string& name, bool followLinks, FileInfo* info) = 0;
  virtual int OpenFile(const std::string& name, OpenMode mode, std::uint32_t permissions,
                       std::unique_ptr<WritableFile>* file) = 0;
  // Gives `from` the name `to`. With replace false the call fails with EEXIST when `to` is taken,
  // and with EINVAL or ENOSYS on a file system that cannot rename that way (MoveWithoutReplacing
  // then finds another way).
  virtual int Rename(const std::string& from, const std::string& to, bool replace) = 0;
  // A second name for a file; EEXIST when `to` is taken, EPERM or EOPNOTSUPP without links (FAT).
  virtual int Link(const std::string& from, const std::string& to) = 0;
  virtual int Remove(const std::string& name) = 0;
  // The names of the entries, "." and ".." left out. EACCES for a folder that may be written
  // in but not listed.
  virtual int List(std::vector<std::string>* names) = 0;
  // Makes the folder's entries (a rename) reach stable storage.
  virtual int Sync() = 0;
  // The system's descriptor of the folder, or -1 when there is none (a folder in memory). Only
  // for the hasty-exit clean-up, which must make plain system calls from a signal handler.
  virtual int NativeHandle() const { return -1; }
  // The folder's path as the system takes it, or "" for a folder in memory. Only for the
  // hasty-exit clean-up on Windows, where a folder is held by its path (win32_env.cpp).
  virtual std::string NativePath() const { return std::string(); }
};

class Env {
 public:
  virtual ~Env() = default;
  // Follows links when `followLinks`; otherwise a link is described itself (as kOther).
  virtual int Stat(const std::string& path, bool followLinks, FileInfo* info) = 0;
  // Opens a regular file for reading, following links. The open never waits: a FIFO or a device
  // named like a file gives kNotRegularFile, never a reader stuck in open. EISDIR for a folder.
  // `info` describes the file opened.
  virtual int OpenForReading(const std::string& path, std::unique_ptr<ReadableFile>* file,
                             FileInfo* info) = 0;
  // A folder that may be written in but not listed still opens; its List fails.
  virtual int OpenDirectory(const std::string& path, std::unique_ptr<Directory>* dir) = 0;
  virtual int CreateDirectory(const std::string& path) = 0;
  // The permissions a file created now by a program would get (0666 less the process's mask).
  virtual std::uint32_t NewFilePermissions() = 0;
};

// The operating system's files. One object for the program; thread-safe. Each exists only on
// its own system; SystemEnv is the one of the system the program was built for.
Env& PosixEnv();
Env& Win32Env();
Env& SystemEnv();

// Moves `from` to the free name `to`, never replacing a file there (EEXIST then): with a rename
// that refuses to replace where the file system has one, else with a new link and the old name's
// removal, else (no links either) by looking first and renaming, the best such a system allows.
int MoveWithoutReplacing(Directory& dir, const std::string& from, const std::string& to);

// True when `path` leads to a folder (through links too).
bool IsDirectory(Env& env, const std::string& path);

// The whole regular file at `path`, up to `limit` bytes (EFBIG beyond).
int ReadWholeFile(Env& env, const std::string& path, std::size_t limit, std::string* contents);

}  // namespace fs
