// What every file layer shares: the no-replace move built on its primitives, the whole-file read.
#include "fs/env.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>

namespace fs {

std::string ErrorText(int err) { return err == kNotRegularFile ? "not a regular file" : std::strerror(err); }

int MoveWithoutReplacing(Directory& dir, const std::string& from, const std::string& to) {
  int err = dir.Rename(from, to, false);
  if (err != EINVAL && err != ENOSYS) return err;
  // A file system without the no-replace rename: a new link fails as well on a taken name.
  err = dir.Link(from, to);
  if (err == 0) {
    // The file is in place under both names; the old one goes, and if it cannot, it is only a
    // second name of a complete file.
    dir.Remove(from);
    return 0;
  }
  if (err != EPERM && err != EOPNOTSUPP) return err;
  // Nor links (FAT): look, then rename.
  FileInfo info;
  if (dir.Stat(to, false, &info) == 0) return EEXIST;
  return dir.Rename(from, to, true);
}

bool IsDirectory(Env& env, const std::string& path) {
  FileInfo info;
  return env.Stat(path, true, &info) == 0 && info.kind == FileInfo::Kind::kDirectory;
}

int ReadWholeFile(Env& env, const std::string& path, std::size_t limit, std::string* contents) {
  std::unique_ptr<ReadableFile> file;
  FileInfo info;
  if (const int err = env.OpenForReading(path, &file, &info); err != 0) return err;
  if (info.size > limit) return EFBIG;
  contents->clear();
  contents->resize(static_cast<std::size_t>(info.size));
  // Room for one byte beyond the limit tells a file at the limit from a larger one.
  const std::size_t room = limit < SIZE_MAX ? limit + 1 : limit;
  std::size_t used = 0;
  for (;;) {
    // Full: the end, or a file that grew since it was opened (or reports size 0, as /proc does).
    if (used == contents->size()) contents->resize(std::min(room, std::max<std::size_t>(used * 2, 4096)));
    std::size_t got = 0;
    const int err = file->Read(contents->data() + used, contents->size() - used, &got);
    if (err != 0) return err;
    if (got == 0) break;
    used += got;
    if (used > limit) return EFBIG;
  }
  contents->resize(used);
  return 0;
}

}  // namespace fs
