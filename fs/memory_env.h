// MemoryEnv: a file system kept in memory, for tests that need files without a disk, and as the
// second implementation that keeps the file layer's contract honest.
//
// It holds folders and regular files only (no links by path, no FIFOs), starting with an empty
// root "/"; relative paths are taken from the root. Hard links, locks held per open file,
// no-replace renames and files that stay readable through open handles after their name is gone
// behave as on a POSIX file system. Thread-safe. Open files may outlive the MemoryEnv.
#pragma once

#include <memory>

#include "fs/env.h"

namespace fs {

class MemoryEnv final : public Env {
 public:
  MemoryEnv();
  ~MemoryEnv() override;
  MemoryEnv(const MemoryEnv&) = delete;
  MemoryEnv& operator=(const MemoryEnv&) = delete;

  int Stat(const std::string& path, bool followLinks, FileInfo* info) override;
  int OpenForReading(const std::string& path, std::unique_ptr<ReadableFile>* file, FileInfo* info) override;
  int OpenDirectory(const std::string& path, std::unique_ptr<Directory>* dir) override;
  int CreateDirectory(const std::string& path) override;
  std::uint32_t NewFilePermissions() override { return 0644; }

  struct State;

 private:
  std::shared_ptr<State> state_;
};

}  // namespace fs
