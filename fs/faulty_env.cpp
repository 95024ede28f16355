#include "fs/faulty_env.h"

#include <atomic>
#include <mutex>

namespace fs {

struct FaultyEnv::Injector {
  std::atomic<std::uint64_t> calls{0};
  std::atomic<bool> failNextWrite{false};
  mutable std::mutex mu;
  std::uint64_t target = 0;
  int err = 0;
  Fault fault = Fault::kError;
  std::string faulted;

  // Counts the call; its error number when it is the one to fail, else 0. `shortWrite` (writes
  // only) is set when the write is to come up short instead.
  int Hit(const char* what, bool* shortWrite = nullptr) {
    if (shortWrite != nullptr && failNextWrite.exchange(false)) {
      std::lock_guard<std::mutex> lock(mu);
      return err;
    }
    const std::uint64_t n = ++calls;
    std::lock_guard<std::mutex> lock(mu);
    if (n != target) return 0;
    faulted = what;
    if (fault == Fault::kError) return err;
    if (shortWrite != nullptr) {
      *shortWrite = true;
      failNextWrite = fault == Fault::kShortThenError;
    }
    return 0;
  }
};

namespace {

using Injector = FaultyEnv::Injector;

class FaultyReadableFile final : public ReadableFile {
 public:
  FaultyReadableFile(std::shared_ptr<Injector> faults, std::unique_ptr<ReadableFile> base)
      : faults_(std::move(faults)), base_(std::move(base)) {}
  int Read(void* data, std::size_t size, std::size_t* got) override {
    *got = 0;
    if (const int err = faults_->Hit("read"); err != 0) return err;
    return base_->Read(data, size, got);
  }
  int ReadAt(std::uint64_t offset, void* data, std::size_t size, std::size_t* got) override {
    *got = 0;
    if (const int err = faults_->Hit("read"); err != 0) return err;
    return base_->ReadAt(offset, data, size, got);
  }

 private:
  std::shared_ptr<Injector> faults_;
  std::unique_ptr<ReadableFile> base_;
};

class FaultyWritableFile final : public WritableFile {
 public:
  FaultyWritableFile(std::shared_ptr<Injector> faults, std::unique_ptr<WritableFile> base)
      : faults_(std::move(faults)), base_(std::move(base)) {}

  int WriteAt(std::uint64_t offset, const void* data, std::size_t size, std::size_t* written) override {
    *written = 0;
    bool shortWrite = false;
    if (const int err = faults_->Hit("write", &shortWrite); err != 0) return err;
    if (shortWrite && size > 1) size /= 2;
    return base_->WriteAt(offset, data, size, written);
  }
  int ReadAt(std::uint64_t offset, void* data, std::size_t size, std::size_t* got) override {
    *got = 0;
    if (const int err = faults_->Hit("read"); err != 0) return err;
    return base_->ReadAt(offset, data, size, got);
  }
  int Truncate(std::uint64_t size) override {
    if (const int err = faults_->Hit("resize"); err != 0) return err;
    return base_->Truncate(size);
  }
  int Sync() override {
    if (const int err = faults_->Hit("sync"); err != 0) return err;
    return base_->Sync();
  }
  void StartWriteback(std::uint64_t offset, std::uint64_t size) override {
    // A failed hint is a hint not taken.
    if (faults_->Hit("start writeback") == 0) base_->StartWriteback(offset, size);
  }
  int Stat(FileInfo* info) override {
    if (const int err = faults_->Hit("stat"); err != 0) return err;
    return base_->Stat(info);
  }
  int SetPermissions(std::uint32_t permissions) override {
    if (const int err = faults_->Hit("set permissions"); err != 0) return err;
    return base_->SetPermissions(permissions);
  }
  int TryLock() override {
    if (const int err = faults_->Hit("lock"); err != 0) return err;
    return base_->TryLock();
  }
  int CheckClose() override {
    if (const int err = faults_->Hit("close"); err != 0) return err;
    return base_->CheckClose();
  }
  int Close() override {
    // A close that reports an error (as a network file system does for a failed write-back)
    // closes all the same.
    const int err = faults_->Hit("close");
    const int closed = base_->Close();
    return err != 0 ? err : closed;
  }

 private:
  std::shared_ptr<Injector> faults_;
  std::unique_ptr<WritableFile> base_;
};

class FaultyDirectory final : public Directory {
 public:
  FaultyDirectory(std::shared_ptr<Injector> faults, std::unique_ptr<Directory> base)
      : faults_(std::move(faults)), base_(std::move(base)) {}

  int Stat(const std::string& name, bool followLinks, FileInfo* info) override {
    if (const int err = faults_->Hit("stat"); err != 0) return err;
    return base_->Stat(name, followLinks, info);
  }
  int OpenFile(const std::string& name, OpenMode mode, std::uint32_t permissions,
               std::unique_ptr<WritableFile>* file) override {
    if (const int err = faults_->Hit("open"); err != 0) return err;
    std::unique_ptr<WritableFile> opened;
    if (const int err = base_->OpenFile(name, mode, permissions, &opened); err != 0) return err;
    *file = std::make_unique<FaultyWritableFile>(faults_, std::move(opened));
    return 0;
  }
  int Rename(const std::string& from, const std::string& to, bool replace) override {
    if (const int err = faults_->Hit("rename"); err != 0) return err;
    return base_->Rename(from, to, replace);
  }
  int Link(const std::string& from, const std::string& to) override {
    if (const int err = faults_->Hit("link"); err != 0) return err;
    return base_->Link(from, to);
  }
  int Remove(const std::string& name) override {
    if (const int err = faults_->Hit("remove"); err != 0) return err;
    return base_->Remove(name);
  }
  int List(std::vector<std::string>* names) override {
    names->clear();
    if (const int err = faults_->Hit("list"); err != 0) return err;
    return base_->List(names);
  }
  int Sync() override {
    if (const int err = faults_->Hit("sync folder"); err != 0) return err;
    return base_->Sync();
  }
  int NativeHandle() const override { return base_->NativeHandle(); }
  std::string NativePath() const override { return base_->NativePath(); }

 private:
  std::shared_ptr<Injector> faults_;
  std::unique_ptr<Directory> base_;
};

}  // namespace

FaultyEnv::FaultyEnv(Env& base) : base_(base), injector_(std::make_shared<Injector>()) {}
FaultyEnv::~FaultyEnv() = default;

void FaultyEnv::FailCall(std::uint64_t n, int err, Fault fault) {
  std::lock_guard<std::mutex> lock(injector_->mu);
  injector_->calls = 0;
  injector_->target = n;
  injector_->err = err;
  injector_->fault = fault;
  injector_->failNextWrite = false;
  injector_->faulted.clear();
}

std::uint64_t FaultyEnv::calls() const { return injector_->calls.load(); }

std::string FaultyEnv::faulted() const {
  std::lock_guard<std::mutex> lock(injector_->mu);
  return injector_->faulted;
}

int FaultyEnv::Stat(const std::string& path, bool followLinks, FileInfo* info) {
  if (const int err = injector_->Hit("stat"); err != 0) return err;
  return base_.Stat(path, followLinks, info);
}

int FaultyEnv::OpenForReading(const std::string& path, std::unique_ptr<ReadableFile>* file, FileInfo* info) {
  if (const int err = injector_->Hit("open"); err != 0) return err;
  std::unique_ptr<ReadableFile> opened;
  if (const int err = base_.OpenForReading(path, &opened, info); err != 0) return err;
  *file = std::make_unique<FaultyReadableFile>(injector_, std::move(opened));
  return 0;
}

int FaultyEnv::OpenDirectory(const std::string& path, std::unique_ptr<Directory>* dir) {
  if (const int err = injector_->Hit("open folder"); err != 0) return err;
  std::unique_ptr<Directory> opened;
  if (const int err = base_.OpenDirectory(path, &opened); err != 0) return err;
  *dir = std::make_unique<FaultyDirectory>(injector_, std::move(opened));
  return 0;
}

int FaultyEnv::CreateDirectory(const std::string& path) {
  if (const int err = injector_->Hit("create folder"); err != 0) return err;
  return base_.CreateDirectory(path);
}

std::uint32_t FaultyEnv::NewFilePermissions() { return base_.NewFilePermissions(); }

}  // namespace fs
