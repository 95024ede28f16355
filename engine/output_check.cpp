#include "engine/output_check.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "engine/texts.h"

namespace engine {

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

quill::Status CheckOutputFolder(const std::string& folder, std::uint64_t needBytes) {
  if (folder.empty()) return quill::Status::InvalidArgument("No output folder is given. Choose a folder.");
  struct stat st;
  if (stat(folder.c_str(), &st) != 0) {
    const int err = errno;
    return quill::Status::NotFound("The output folder " + folder + " cannot be used: " + std::strerror(err) +
                                   ". " + RemedyFor(std::strerror(err)));
  }
  if (!S_ISDIR(st.st_mode)) {
    return quill::Status::InvalidArgument("The output folder " + folder + " is not a folder. " +
                                          RemedyFor(std::strerror(ENOTDIR)));
  }
  std::string probe = folder + (folder.back() == '/' ? "" : "/") + ".quillsort-check-XXXXXX";
  const int fd = mkstemp(probe.data());
  if (fd < 0) {
    const int err = errno;
    return quill::Status::IOError("The data file could not be created in " + folder + ": " +
                                  std::strerror(err) + ". " + RemedyFor(std::strerror(err)));
  }
  close(fd);
  unlink(probe.c_str());
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

std::uint64_t ListedBytes(const fs::KeyedList& files) {
  std::uint64_t total = 0;
  for (std::size_t i = 0; i < files.Count(); ++i) {
    struct stat st;
    if (stat(std::string(files.Item(i)).c_str(), &st) == 0 && S_ISREG(st.st_mode)) total += st.st_size;
  }
  return total;
}

}  // namespace engine
