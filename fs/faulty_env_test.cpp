#include "fs/faulty_env.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "fs/memory_env.h"

namespace fs {
namespace {

using Fault = FaultyEnv::Fault;

class FaultyEnvTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(base_.CreateDirectory("/d"), 0);
    ASSERT_EQ(env_.OpenDirectory("/d", &dir_), 0);
    ASSERT_EQ(dir_->OpenFile("f", OpenMode::kCreateOrOpen, 0644, &file_), 0);
  }
  std::string Contents() {
    std::string out;
    EXPECT_EQ(ReadWholeFile(base_, "/d/f", 1 << 20, &out), 0);
    return out;
  }

  MemoryEnv base_;
  FaultyEnv env_{base_};
  std::unique_ptr<Directory> dir_;
  std::unique_ptr<WritableFile> file_;
};

TEST_F(FaultyEnvTest, TheArmedCallFailsWhateverItIsAndOnlyThatOne) {
  std::size_t n = 0;
  env_.FailCall(3, ENOSPC);
  EXPECT_EQ(file_->WriteAt(0, "ab", 2, &n), 0);
  FileInfo info;
  EXPECT_EQ(dir_->Stat("f", false, &info), 0);
  EXPECT_EQ(env_.faulted(), "");
  EXPECT_EQ(file_->Sync(), ENOSPC);
  EXPECT_EQ(env_.faulted(), "sync");
  EXPECT_EQ(file_->Sync(), 0);
  EXPECT_EQ(env_.calls(), 4u);

  // Folders and files opened through it count, and the base is untouched by a failed call.
  env_.FailCall(2, EIO);
  std::unique_ptr<WritableFile> other;
  ASSERT_EQ(dir_->OpenFile("g", OpenMode::kCreateOrOpen, 0644, &other), 0);
  EXPECT_EQ(dir_->Rename("g", "f", true), EIO);
  EXPECT_EQ(env_.faulted(), "rename");
  EXPECT_EQ(Contents(), "ab");

  env_.FailCall(0, EIO);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(file_->WriteAt(0, "cd", 2, &n), 0);
  EXPECT_EQ(env_.calls(), 5u);
  EXPECT_EQ(env_.faulted(), "");
}

TEST_F(FaultyEnvTest, AShortWriteWritesHalfAndSaysSo) {
  std::size_t n = 0;
  env_.FailCall(1, EIO, Fault::kShort);
  ASSERT_EQ(file_->WriteAt(0, "abcdef", 6, &n), 0);
  EXPECT_EQ(n, 3u);
  EXPECT_EQ(Contents(), "abc");
  ASSERT_EQ(file_->WriteAt(3, "def", 3, &n), 0);
  EXPECT_EQ(n, 3u);
  EXPECT_EQ(Contents(), "abcdef");
  // Another kind of call at the armed count just goes through.
  env_.FailCall(1, EIO, Fault::kShort);
  EXPECT_EQ(file_->Truncate(2), 0);
  EXPECT_EQ(env_.faulted(), "resize");
}

TEST_F(FaultyEnvTest, AShortWriteThenAFailureIsADiskFillingUp) {
  std::size_t n = 0;
  env_.FailCall(1, ENOSPC, Fault::kShortThenError);
  ASSERT_EQ(file_->WriteAt(0, "abcd", 4, &n), 0);
  EXPECT_EQ(n, 2u);
  EXPECT_EQ(file_->WriteAt(2, "cd", 2, &n), ENOSPC);
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(Contents(), "ab");
  EXPECT_EQ(file_->WriteAt(2, "cd", 2, &n), 0);
}

TEST_F(FaultyEnvTest, AFailedCloseStillClosesAndFreesTheLock) {
  ASSERT_EQ(file_->TryLock(), 0);
  env_.FailCall(1, EIO);
  EXPECT_EQ(file_->Close(), EIO);
  EXPECT_EQ(env_.faulted(), "close");
  std::size_t n = 0;
  EXPECT_EQ(file_->WriteAt(0, "x", 1, &n), EBADF);
  std::unique_ptr<WritableFile> again;
  ASSERT_EQ(dir_->OpenFile("f", OpenMode::kExistingForLocking, 0, &again), 0);
  EXPECT_EQ(again->TryLock(), 0);
}

TEST_F(FaultyEnvTest, EveryKindOfCallCanBeFailed) {
  // One of each, in order; each run fails the next one.
  auto run = [&]() -> std::pair<int, std::string> {
    FileInfo info;
    std::unique_ptr<Directory> d;
    std::unique_ptr<ReadableFile> r;
    std::unique_ptr<WritableFile> w;
    std::vector<std::string> names;
    std::size_t n = 0;
    char c;
    int err;
    if ((err = env_.Stat("/d/f", true, &info)) != 0) return {err, "stat"};
    if ((err = env_.OpenDirectory("/d", &d)) != 0) return {err, "open folder"};
    if ((err = d->OpenFile("h", OpenMode::kCreateOrOpen, 0600, &w)) != 0) return {err, "open"};
    if ((err = w->WriteAt(0, "xy", 2, &n)) != 0) return {err, "write"};
    if ((err = w->ReadAt(0, &c, 1, &n)) != 0) return {err, "read"};
    if ((err = w->Truncate(1)) != 0) return {err, "resize"};
    if ((err = w->SetPermissions(0644)) != 0) return {err, "set permissions"};
    if ((err = w->TryLock()) != 0) return {err, "lock"};
    if ((err = w->CheckClose()) != 0) return {err, "close"};
    if ((err = d->Link("h", "i")) != 0) return {err, "link"};
    if ((err = d->Remove("i")) != 0) return {err, "remove"};
    if ((err = d->Rename("h", "j", false)) != 0) return {err, "rename"};
    if ((err = d->List(&names)) != 0) return {err, "list"};
    if ((err = d->Sync()) != 0) return {err, "sync folder"};
    if ((err = env_.OpenForReading("/d/j", &r, &info)) != 0) return {err, "open"};
    if ((err = r->Read(&c, 1, &n)) != 0) return {err, "read"};
    d->Remove("j");
    return {0, ""};
  };
  env_.FailCall(0, 0);
  ASSERT_EQ(run().first, 0);
  const std::uint64_t calls = env_.calls();
  EXPECT_EQ(calls, 17u);
  for (std::uint64_t k = 1; k < calls; ++k) {
    env_.FailCall(k, EROFS);
    const auto [err, where] = run();
    EXPECT_EQ(err, EROFS) << k;
    EXPECT_EQ(where, env_.faulted()) << k;
    base_.OpenDirectory("/d", &dir_);
    for (const char* name : {"h", "i", "j"}) dir_->Remove(name);
  }
}

}  // namespace
}  // namespace fs
