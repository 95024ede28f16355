// FaultyEnv: another Env's files, with one chosen call failing on purpose.
//
// Every call made through it, or through a folder or file it opened, is counted from 1; the
// armed one fails with the chosen error number, or (a write) comes up short. A test runs its code
// once to count the calls, then once per call with that call failing, and so sees every failure
// the system could give it without a full disk, a network file system or a fork.
//
//   fs::FaultyEnv env(fs::PosixEnv());
//   env.FailCall(7, ENOSPC);           // the 7th call fails with ENOSPC, whatever it is
//   env.FailCall(3, EIO, fs::FaultyEnv::Fault::kShortThenError);
//
// Thread-safe: a writer may write from one thread and read from another. The base Env must
// outlive it; the folders and files it opens keep what they need of it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "fs/env.h"

namespace fs {

class FaultyEnv final : public Env {
 public:
  enum class Fault {
    kError,           // the call fails with the error number
    kShort,           // a write writes only part of its bytes and says so; any other call goes through
    kShortThenError,  // a write comes up short and the write after it fails (a disk filling up)
  };

  explicit FaultyEnv(Env& base);
  ~FaultyEnv() override;

  // Arms one fault; n == 0 arms none. Starts the count again.
  void FailCall(std::uint64_t n, int err, Fault fault = Fault::kError);
  // Calls made since the last FailCall (or construction).
  std::uint64_t calls() const;
  // What the armed call turned out to be ("write", "rename", "sync folder", ...); empty until made.
  std::string faulted() const;

  int Stat(const std::string& path, bool followLinks, FileInfo* info) override;
  int OpenForReading(const std::string& path, std::unique_ptr<ReadableFile>* file, FileInfo* info) override;
  int OpenDirectory(const std::string& path, std::unique_ptr<Directory>* dir) override;
  int CreateDirectory(const std::string& path) override;
  std::uint32_t NewFilePermissions() override;

  struct Injector;

 private:
  Env& base_;
  std::shared_ptr<Injector> injector_;
};

}  // namespace fs
