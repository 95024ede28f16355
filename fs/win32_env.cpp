// The Windows file layer. Paths are UTF-8 on our side and go to the wide calls in the long form
// (win32_text.h); system error codes come back as the errno values that mean the same.
//
// Where Windows differs from POSIX, the closest behaviour the writer relies on:
// - Every file is opened sharing read, write and delete: an open file can be renamed and removed,
//   as on POSIX, and a second run can open a temporary file to find its lock held. The lock
//   (LockFileEx on a byte far past any end of file) is what keeps two runs apart, as flock does.
// - A Directory holds its path rather than an open handle: Windows renames by path anyway, and a
//   held folder handle would keep the user from renaming the folder while a conversion runs.
// - Renames are made with MOVEFILE_WRITE_THROUGH, so a folder has nothing left to flush.
// - Permissions are the read-only attribute: a file without 0200 is read-only; a file reports
//   0666 or 0444, a folder 0777.
// - Writes are 64-bit offsets in OVERLAPPED, never off_t (32 bits with mingw).
#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "fs/env.h"
#include "fs/win32_text.h"

namespace fs {
namespace {

using win32::ErrnoOf;
using win32::SystemPath;
using win32::ToUtf8;

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// One call moves at most this much; the interface allows short reads and writes.
constexpr std::size_t kMaxChunk = 1u << 30;
// The lock's byte: past the end of any store file, so that it never stands in a reader's way.
constexpr std::uint64_t kLockOffset = std::uint64_t{1} << 62;

OVERLAPPED At(std::uint64_t offset) {
  OVERLAPPED ov{};
  ov.Offset = static_cast<DWORD>(offset);
  ov.OffsetHigh = static_cast<DWORD>(offset >> 32);
  return ov;
}

std::int64_t UnixSeconds(const FILETIME& t) {
  const std::uint64_t ticks = (std::uint64_t{t.dwHighDateTime} << 32) | t.dwLowDateTime;  // 100 ns since 1601
  return static_cast<std::int64_t>(ticks / 10000000) - 11644473600;
}

FileInfo InfoOf(const BY_HANDLE_FILE_INFORMATION& h) {
  FileInfo info;
  if (h.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    info.kind = FileInfo::Kind::kOther;  // a link described itself
  } else if (h.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
    info.kind = FileInfo::Kind::kDirectory;
  } else {
    info.kind = FileInfo::Kind::kRegular;
  }
  info.size = (std::uint64_t{h.nFileSizeHigh} << 32) | h.nFileSizeLow;
  info.device = h.dwVolumeSerialNumber;
  info.inode = (std::uint64_t{h.nFileIndexHigh} << 32) | h.nFileIndexLow;
  info.permissions = info.kind == FileInfo::Kind::kDirectory          ? 0777
                     : (h.dwFileAttributes & FILE_ATTRIBUTE_READONLY) ? 0444
                                                                      : 0666;
  info.links = h.nNumberOfLinks;
  info.modified = UnixSeconds(h.ftLastWriteTime);
  return info;
}

int StatHandle(HANDLE handle, FileInfo* info) {
  BY_HANDLE_FILE_INFORMATION h{};
  if (!GetFileInformationByHandle(handle, &h)) return ErrnoOf(GetLastError());
  *info = InfoOf(h);
  return 0;
}

// The errno of a failed call on `wide`. Windows says "path not found" where a part of the path is
// a file; POSIX says ENOTDIR then, and so do we.
int PathError(DWORD error, const std::wstring& wide) {
  if (error == ERROR_PATH_NOT_FOUND || error == ERROR_DIRECTORY) {
    std::wstring parent = wide;
    for (;;) {
      const std::size_t slash = parent.find_last_of(L'\\');
      if (slash == std::wstring::npos || slash < 4) break;
      parent.resize(slash);
      const DWORD attributes = GetFileAttributesW(parent.c_str());
      if (attributes == INVALID_FILE_ATTRIBUTES) continue;
      if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return ENOTDIR;
      break;
    }
  }
  return ErrnoOf(error);
}

int StatPath(const std::string& path, bool followLinks, FileInfo* info) {
  std::wstring wide;
  if (!SystemPath(path, wide)) return ENOENT;
  const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (followLinks ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
  HANDLE h =
      CreateFileW(wide.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING, flags, nullptr);
  if (h == INVALID_HANDLE_VALUE) return PathError(GetLastError(), wide);
  const int err = StatHandle(h, info);
  CloseHandle(h);
  return err;
}

int ReadAtHandle(HANDLE handle, std::uint64_t offset, void* data, std::size_t size, std::size_t* got) {
  OVERLAPPED ov = At(offset);
  DWORD n = 0;
  const BOOL ok = ReadFile(handle, data, static_cast<DWORD>(std::min(size, kMaxChunk)), &n, &ov);
  *got = n;
  if (!ok) {
    const DWORD error = GetLastError();
    if (error == ERROR_HANDLE_EOF) return 0;  // past the end: nothing read, no error
    return ErrnoOf(error);
  }
  return 0;
}

class Win32ReadableFile final : public ReadableFile {
 public:
  explicit Win32ReadableFile(HANDLE handle) : handle_(handle) {}
  ~Win32ReadableFile() override { CloseHandle(handle_); }

  int Read(void* data, std::size_t size, std::size_t* got) override {
    const int err = ReadAtHandle(handle_, position_, data, size, got);
    position_ += *got;
    return err;
  }
  int ReadAt(std::uint64_t offset, void* data, std::size_t size, std::size_t* got) override {
    return ReadAtHandle(handle_, offset, data, size, got);
  }

 private:
  const HANDLE handle_;
  std::uint64_t position_ = 0;
};

class Win32WritableFile final : public WritableFile {
 public:
  Win32WritableFile(HANDLE handle, bool writable) : handle_(handle), writable_(writable) {}
  ~Win32WritableFile() override {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
  }

  int WriteAt(std::uint64_t offset, const void* data, std::size_t size, std::size_t* written) override {
    *written = 0;
    if (handle_ == INVALID_HANDLE_VALUE || !writable_) return EBADF;
    OVERLAPPED ov = At(offset);
    DWORD n = 0;
    const BOOL ok = WriteFile(handle_, data, static_cast<DWORD>(std::min(size, kMaxChunk)), &n, &ov);
    *written = n;
    return ok ? 0 : ErrnoOf(GetLastError());
  }
  int ReadAt(std::uint64_t offset, void* data, std::size_t size, std::size_t* got) override {
    *got = 0;
    if (handle_ == INVALID_HANDLE_VALUE) return EBADF;
    return ReadAtHandle(handle_, offset, data, size, got);
  }
  int Truncate(std::uint64_t size) override {
    if (handle_ == INVALID_HANDLE_VALUE || !writable_) return EBADF;
    FILE_END_OF_FILE_INFO end{};
    end.EndOfFile.QuadPart = static_cast<LONGLONG>(size);
    if (!SetFileInformationByHandle(handle_, FileEndOfFileInfo, &end, sizeof end))
      return ErrnoOf(GetLastError());
    return 0;
  }
  int Sync() override {
    if (handle_ == INVALID_HANDLE_VALUE) return EBADF;
    return FlushFileBuffers(handle_) ? 0 : ErrnoOf(GetLastError());
  }
  // Windows has no call that starts the write-back of a range without waiting for it; the lazy
  // writer starts it on its own, and Sync does the rest.
  void StartWriteback(std::uint64_t, std::uint64_t) override {}
  int Stat(FileInfo* info) override {
    if (handle_ == INVALID_HANDLE_VALUE) return EBADF;
    return StatHandle(handle_, info);
  }
  int SetPermissions(std::uint32_t permissions) override {
    if (handle_ == INVALID_HANDLE_VALUE) return EBADF;
    FILE_BASIC_INFO basic{};
    if (!GetFileInformationByHandleEx(handle_, FileBasicInfo, &basic, sizeof basic)) {
      return ErrnoOf(GetLastError());
    }
    DWORD attributes = basic.FileAttributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
    if (!(permissions & 0200)) attributes |= FILE_ATTRIBUTE_READONLY;
    // Zero means "unchanged" for the times; FILE_ATTRIBUTE_NORMAL stands alone or not at all.
    basic.CreationTime.QuadPart = basic.LastAccessTime.QuadPart = 0;
    basic.LastWriteTime.QuadPart = basic.ChangeTime.QuadPart = 0;
    basic.FileAttributes = attributes == 0 ? FILE_ATTRIBUTE_NORMAL : attributes & ~FILE_ATTRIBUTE_NORMAL;
    if (!SetFileInformationByHandle(handle_, FileBasicInfo, &basic, sizeof basic)) {
      return ErrnoOf(GetLastError());
    }
    return 0;
  }
  int TryLock() override {
    if (handle_ == INVALID_HANDLE_VALUE) return EBADF;
    if (locked_) return 0;  // Windows locks do not nest on one handle; flock's do
    OVERLAPPED ov = At(kLockOffset);
    if (!LockFileEx(handle_, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &ov)) {
      const DWORD error = GetLastError();
      return error == ERROR_LOCK_VIOLATION || error == ERROR_IO_PENDING ? EWOULDBLOCK : ErrnoOf(error);
    }
    locked_ = true;
    return 0;
  }
  // Closing a handle reports nothing that a flush has not: there is nothing to ask in advance.
  int CheckClose() override { return handle_ == INVALID_HANDLE_VALUE ? EBADF : 0; }
  int Close() override {
    if (handle_ == INVALID_HANDLE_VALUE) return EBADF;
    const BOOL ok = CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
    return ok ? 0 : ErrnoOf(GetLastError());
  }

 private:
  HANDLE handle_;
  const bool writable_;
  bool locked_ = false;
};

class Win32Directory final : public Directory {
 public:
  explicit Win32Directory(std::string path) : path_(std::move(path)) {}

  int Stat(const std::string& name, bool followLinks, FileInfo* info) override {
    return StatPath(PathOf(name), followLinks, info);
  }
  int OpenFile(const std::string& name, OpenMode mode, std::uint32_t permissions,
               std::unique_ptr<WritableFile>* file) override {
    std::wstring wide;
    if (!SystemPath(PathOf(name), wide)) return ENOENT;
    const bool create = mode == OpenMode::kCreateOrOpen;
    const DWORD access = create ? GENERIC_READ | GENERIC_WRITE : GENERIC_READ;
    const DWORD attributes =
        create && !(permissions & 0200) ? FILE_ATTRIBUTE_READONLY : FILE_ATTRIBUTE_NORMAL;
    HANDLE h = CreateFileW(wide.c_str(), access, kShareAll, nullptr, create ? OPEN_ALWAYS : OPEN_EXISTING,
                           attributes | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      const DWORD error = GetLastError();
      // A folder refuses a file's open with "access denied"; POSIX says EISDIR.
      const DWORD found = GetFileAttributesW(wide.c_str());
      if (error == ERROR_ACCESS_DENIED && found != INVALID_FILE_ATTRIBUTES &&
          (found & FILE_ATTRIBUTE_DIRECTORY)) {
        return EISDIR;
      }
      return PathError(error, wide);
    }
    if (GetFileType(h) != FILE_TYPE_DISK) {
      CloseHandle(h);
      return kNotRegularFile;
    }
    *file = std::make_unique<Win32WritableFile>(h, create);
    return 0;
  }
  int Rename(const std::string& from, const std::string& to, bool replace) override {
    std::wstring source, target;
    if (!SystemPath(PathOf(from), source) || !SystemPath(PathOf(to), target)) return ENOENT;
    const DWORD flags = MOVEFILE_WRITE_THROUGH | (replace ? MOVEFILE_REPLACE_EXISTING : 0);
    return MoveFileExW(source.c_str(), target.c_str(), flags) ? 0 : PathError(GetLastError(), source);
  }
  int Link(const std::string& from, const std::string& to) override {
    std::wstring source, target;
    if (!SystemPath(PathOf(from), source) || !SystemPath(PathOf(to), target)) return ENOENT;
    return CreateHardLinkW(target.c_str(), source.c_str(), nullptr) ? 0 : PathError(GetLastError(), source);
  }
  int Remove(const std::string& name) override {
    std::wstring wide;
    if (!SystemPath(PathOf(name), wide)) return ENOENT;
    return DeleteFileW(wide.c_str()) ? 0 : PathError(GetLastError(), wide);
  }
  int List(std::vector<std::string>* names) override {
    names->clear();
    std::wstring pattern;
    if (!SystemPath(PathOf("*"), pattern)) return ENOENT;
    WIN32_FIND_DATAW data{};
    HANDLE search =
        FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &data, FindExSearchNameMatch, nullptr, 0);
    if (search == INVALID_HANDLE_VALUE) {
      const DWORD error = GetLastError();
      return error == ERROR_FILE_NOT_FOUND ? 0 : ErrnoOf(error);  // a drive's root may hold nothing
    }
    DWORD error = ERROR_NO_MORE_FILES;
    do {
      if (std::wcscmp(data.cFileName, L".") != 0 && std::wcscmp(data.cFileName, L"..") != 0) {
        names->push_back(ToUtf8(data.cFileName, std::wcslen(data.cFileName)));
      }
    } while (FindNextFileW(search, &data) || (error = GetLastError()) != ERROR_NO_MORE_FILES);
    FindClose(search);
    return error == ERROR_NO_MORE_FILES ? 0 : ErrnoOf(error);
  }
  // Every rename was written through already.
  int Sync() override { return 0; }
  std::string NativePath() const override { return path_; }

 private:
  std::string PathOf(const std::string& name) const { return path_ + "\\" + name; }

  const std::string path_;
};

class Win32FileSystem final : public Env {
 public:
  int Stat(const std::string& path, bool followLinks, FileInfo* info) override {
    return StatPath(path, followLinks, info);
  }

  int OpenForReading(const std::string& path, std::unique_ptr<ReadableFile>* file, FileInfo* info) override {
    std::wstring wide;
    if (!SystemPath(path, wide)) return ENOENT;
    // Backup semantics opens a folder too, which is then told apart below rather than by a
    // bare "access denied".
    HANDLE h = CreateFileW(wide.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (h == INVALID_HANDLE_VALUE) return PathError(GetLastError(), wide);
    auto reader = std::make_unique<Win32ReadableFile>(h);
    if (GetFileType(h) != FILE_TYPE_DISK) return kNotRegularFile;  // a pipe, a console, a device
    FileInfo opened;
    if (const int err = StatHandle(h, &opened); err != 0) return err;
    if (opened.kind == FileInfo::Kind::kDirectory) return EISDIR;
    opened.kind = FileInfo::Kind::kRegular;  // a link followed to its file
    *info = opened;
    *file = std::move(reader);
    return 0;
  }

  int OpenDirectory(const std::string& path, std::unique_ptr<Directory>* dir) override {
    FileInfo info;
    if (const int err = StatPath(path, true, &info); err != 0) return err;
    if (info.kind != FileInfo::Kind::kDirectory) return ENOTDIR;
    std::string native = path;
    while (native.size() > 1 && (native.back() == '\\' || native.back() == '/')) native.pop_back();
    *dir = std::make_unique<Win32Directory>(std::move(native));
    return 0;
  }

  int CreateDirectory(const std::string& path) override {
    std::wstring wide;
    if (!SystemPath(path, wide)) return ENOENT;
    return CreateDirectoryW(wide.c_str(), nullptr) ? 0 : PathError(GetLastError(), wide);
  }

  // Windows gives new files no mode; only the read-only attribute, which a new file lacks.
  std::uint32_t NewFilePermissions() override { return 0666; }
};

}  // namespace

Env& Win32Env() {
  static Win32FileSystem env;
  return env;
}

Env& SystemEnv() { return Win32Env(); }

}  // namespace fs
