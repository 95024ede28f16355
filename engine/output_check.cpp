#include "engine/output_check.h"

#include <sys/statvfs.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
#include <system_error>

#include "engine/texts.h"

namespace engine {
namespace {

// Creates a file of a name of its own in `folder` and removes it again: only that tells of a
// read-only mount or an access list. 0 or the error number of the step that failed.
int ProbeWrite(fs::Env& env, const std::string& folder) {
  std::unique_ptr<fs::Directory> dir;
  if (const int err = env.OpenDirectory(folder, &dir); err != 0) return err;
  // The open takes an existing file too, so the name must be free first: a file the user keeps
  // under it is never opened, let alone removed.
  std::random_device random;
  std::string name;
  for (int attempt = 0;; ++attempt) {
    char suffix[24];
    std::snprintf(suffix, sizeof suffix, "%08x%08x", random(), random());
    name = std::string(".quillsort-check-") + suffix;
    fs::FileInfo info;
    const int err = dir->Stat(name, false, &info);
    if (err == ENOENT) break;
    if (err != 0) return err;
    if (attempt == 10) return EEXIST;
  }
  std::unique_ptr<fs::WritableFile> file;
  if (const int err = dir->OpenFile(name, fs::OpenMode::kCreateOrOpen, 0600, &file); err != 0) return err;
  (void)file->Close();      // nothing was written: a close cannot lose anything
  (void)dir->Remove(name);  // the folder took the file, which is the answer; a stray empty file at worst
  return 0;
}

}  // namespace

std::string SizeText(std::uint64_t bytes) {
  char buf[32];
  const double kb = bytes / 1024.0;
  if (kb < 1000) {
    std::snprintf(buf, sizeof buf, "%.0f KB", kb < 1 && bytes > 0 ? 1.0 : kb);
  } else if (kb / 1024 < 1000) {
    std::snprintf(buf, sizeof buf, "%.1f MB", kb / 1024);
  } else {
    std::snprintf(buf, sizeof buf, "%.1f GB", kb / 1024 / 1024);
  }
  return buf;
}

quill::Status CheckOutputFolder(const std::string& folder, std::uint64_t needBytes, fs::Env& env) {
  if (folder.empty()) return quill::Status::InvalidArgument("No output folder is given. Choose a folder.");
  fs::FileInfo info;
  if (const int err = env.Stat(folder, true, &info); err != 0) {
    return quill::Status::NotFound("The output folder " + folder + " cannot be used: " + fs::ErrorText(err) +
                                   ". " + RemedyFor(fs::ErrorText(err)));
  }
  if (info.kind != fs::FileInfo::Kind::kDirectory) {
    return quill::Status::InvalidArgument("The output folder " + folder + " is not a folder. " +
                                          RemedyFor(std::strerror(ENOTDIR)));
  }
  if (const int err = ProbeWrite(env, folder); err != 0) {
    return quill::Status::IOError("The data file could not be created in " + folder + ": " +
                                  fs::ErrorText(err) + ". " + RemedyFor(fs::ErrorText(err)));
  }
  // The file layer has no question about free space; statvfs answers it where there is one.
  struct statvfs vfs;
  if (statvfs(folder.c_str(), &vfs) == 0) {
    const std::uint64_t freeBytes = static_cast<std::uint64_t>(vfs.f_bavail) * vfs.f_frsize;
    if (freeBytes < needBytes) {
      return quill::Status::IOError("There is not enough free space in " + folder + ": about " +
                                    SizeText(needBytes) + " are needed and " + SizeText(freeBytes) +
                                    " are free. " + RemedyFor(std::strerror(ENOSPC)));
    }
  }
  return quill::Status::Ok();
}

std::uint64_t TreeBytes(const std::string& folder, const std::function<void()>& yield) {
  namespace stdfs = std::filesystem;
  std::uint64_t total = 0;
  std::error_code error;
  stdfs::recursive_directory_iterator it(folder, stdfs::directory_options::skip_permission_denied, error);
  if (error) return 0;
  std::size_t seen = 0;
  for (const stdfs::recursive_directory_iterator end; it != end; it.increment(error)) {
    if (error) break;
    std::error_code statError;
    const stdfs::file_status status = it->symlink_status(statError);
    if (!statError && stdfs::is_regular_file(status)) {
      const auto size = it->file_size(statError);
      if (!statError) total += size;
    }
    if (yield && ++seen % 512 == 0) yield();
  }
  return total;
}

std::uint64_t ListedBytes(const fs::KeyedList& files, fs::Env& env) {
  std::uint64_t total = 0;
  for (std::size_t i = 0; i < files.Count(); ++i) {
    fs::FileInfo info;
    if (env.Stat(std::string(files.Item(i)), true, &info) == 0 && info.kind == fs::FileInfo::Kind::kRegular)
      total += info.size;
  }
  return total;
}

}  // namespace engine
