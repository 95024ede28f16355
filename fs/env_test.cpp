// The file layer's contract, one set of cases run against the system's files (POSIX or Win32) and
// the in-memory file system: what the store writer and the message reader rely on must hold for
// all of them.
#include "fs/env.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

#include "fs/memory_env.h"
#include "fs/temp_tree_test.h"

namespace fs {
namespace {

// The system's file layer, by the name of its system.
#ifdef _WIN32
constexpr char kSystem[] = "win32";
#else
constexpr char kSystem[] = "posix";
#endif

class EnvContract : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    if (std::string(GetParam()) == kSystem) {
      tree_ = std::make_unique<testing::TempTree>();
      root_ = tree_->root();
      env_ = &SystemEnv();
    } else {
      memory_ = std::make_unique<MemoryEnv>();
      root_ = "/work";
      env_ = memory_.get();
      ASSERT_EQ(env_->CreateDirectory(root_), 0);
    }
    ASSERT_EQ(env_->OpenDirectory(root_, &dir_), 0);
  }
  void TearDown() override {
    dir_.reset();
    tree_.reset();
  }

  std::unique_ptr<WritableFile> Create(const std::string& name, const std::string& text = "") {
    std::unique_ptr<WritableFile> f;
    EXPECT_EQ(dir_->OpenFile(name, OpenMode::kCreateOrOpen, 0644, &f), 0) << name;
    if (f == nullptr) return nullptr;
    std::size_t written = 0;
    EXPECT_EQ(f->WriteAt(0, text.data(), text.size(), &written), 0);
    EXPECT_EQ(written, text.size());
    return f;
  }
  std::string Contents(const std::string& name) {
    std::string out;
    const int err = ReadWholeFile(*env_, root_ + "/" + name, 1 << 20, &out);
    return err == 0 ? out : "<" + ErrorText(err) + ">";
  }

  std::string root_;
  Env* env_ = nullptr;
  std::unique_ptr<testing::TempTree> tree_;
  std::unique_ptr<MemoryEnv> memory_;
  std::unique_ptr<Directory> dir_;
};

TEST_P(EnvContract, WritesLandAtTheirOffsetsAndGapsReadAsZeros) {
  auto f = Create("a.bin", "header");
  ASSERT_NE(f, nullptr);
  std::size_t n = 0;
  ASSERT_EQ(f->WriteAt(10, "tail", 4, &n), 0);
  EXPECT_EQ(n, 4u);
  ASSERT_EQ(f->WriteAt(0, "HE", 2, &n), 0);
  EXPECT_EQ(Contents("a.bin"), std::string("HEader\0\0\0\0tail", 14));
  char back[8] = {};
  ASSERT_EQ(f->ReadAt(8, back, sizeof back, &n), 0);
  EXPECT_EQ(std::string(back, n), std::string("\0\0tail", 6));  // short at the end
  ASSERT_EQ(f->ReadAt(100, back, sizeof back, &n), 0);
  EXPECT_EQ(n, 0u);

  ASSERT_EQ(f->Truncate(20), 0);
  FileInfo info;
  ASSERT_EQ(f->Stat(&info), 0);
  EXPECT_EQ(info.size, 20u);
  EXPECT_EQ(info.kind, FileInfo::Kind::kRegular);
  ASSERT_EQ(f->Truncate(3), 0);
  EXPECT_EQ(Contents("a.bin"), "HEa");
  EXPECT_EQ(f->Sync(), 0);
  f->StartWriteback(0, 3);
  EXPECT_EQ(f->CheckClose(), 0);
  EXPECT_EQ(f->Close(), 0);
  EXPECT_EQ(f->WriteAt(0, "x", 1, &n), EBADF);
  EXPECT_EQ(f->Close(), EBADF);
  EXPECT_EQ(Contents("a.bin"), "HEa");
}

TEST_P(EnvContract, ReadingFollowsThePositionAndRefusesFoldersAndMissingFiles) {
  Create("m.eml", "0123456789");
  std::unique_ptr<ReadableFile> r;
  FileInfo info;
  ASSERT_EQ(env_->OpenForReading(root_ + "/m.eml", &r, &info), 0);
  EXPECT_EQ(info.size, 10u);
  char buf[4];
  std::size_t got = 0;
  std::string seen;
  do {
    ASSERT_EQ(r->Read(buf, sizeof buf, &got), 0);
    seen.append(buf, got);
  } while (got != 0);
  EXPECT_EQ(seen, "0123456789");
  ASSERT_EQ(r->ReadAt(7, buf, sizeof buf, &got), 0);
  EXPECT_EQ(std::string(buf, got), "789");

  EXPECT_EQ(env_->OpenForReading(root_, &r, &info), EISDIR);
  EXPECT_EQ(env_->OpenForReading(root_ + "/none.eml", &r, &info), ENOENT);
  EXPECT_EQ(env_->OpenForReading(root_ + "/m.eml/x", &r, &info), ENOTDIR);

  std::string all;
  EXPECT_EQ(ReadWholeFile(*env_, root_ + "/m.eml", 10, &all), 0);
  EXPECT_EQ(all, "0123456789");
  EXPECT_EQ(ReadWholeFile(*env_, root_ + "/m.eml", 9, &all), EFBIG);
  Create("empty");
  EXPECT_EQ(ReadWholeFile(*env_, root_ + "/empty", 0, &all), 0);
  EXPECT_EQ(all, "");
}

TEST_P(EnvContract, ARenameThatMayNotReplaceLeavesATakenNameAlone) {
  Create("new", "new data");
  Create("taken", "someone else's");
  EXPECT_EQ(dir_->Rename("new", "taken", false), EEXIST);
  EXPECT_EQ(MoveWithoutReplacing(*dir_, "new", "taken"), EEXIST);
  EXPECT_EQ(Contents("taken"), "someone else's");
  EXPECT_EQ(Contents("new"), "new data");

  EXPECT_EQ(MoveWithoutReplacing(*dir_, "new", "free"), 0);
  EXPECT_EQ(Contents("free"), "new data");
  FileInfo info;
  EXPECT_EQ(dir_->Stat("new", false, &info), ENOENT);

  EXPECT_EQ(dir_->Rename("free", "taken", true), 0);
  EXPECT_EQ(Contents("taken"), "new data");
  EXPECT_EQ(dir_->Rename("gone", "x", true), ENOENT);
  std::vector<std::string> names;
  ASSERT_EQ(dir_->List(&names), 0);
  EXPECT_EQ(names, std::vector<std::string>{"taken"});
}

TEST_P(EnvContract, LinksAndRemovalsChangeNamesNotOpenFiles) {
  auto f = Create("a", "data");
  FileInfo a, b;
  ASSERT_EQ(dir_->Link("a", "b"), 0);
  EXPECT_EQ(dir_->Link("a", "b"), EEXIST);
  ASSERT_EQ(dir_->Stat("a", false, &a), 0);
  ASSERT_EQ(dir_->Stat("b", true, &b), 0);
  EXPECT_TRUE(a.SameFile(b));
  EXPECT_EQ(a.links, 2u);

  ASSERT_EQ(dir_->Remove("a"), 0);
  // Windows (before its POSIX-style deletion, and wine) keeps the name of a removed file that is
  // still open until it is closed; the writer removes names and never counts on their absence.
  const bool namesGoAtOnce = std::string(GetParam()) != "win32";
  if (namesGoAtOnce) {
    EXPECT_EQ(dir_->Remove("a"), ENOENT);
  }
  EXPECT_EQ(Contents("b"), "data");
  ASSERT_EQ(dir_->Remove("b"), 0);
  // Nameless now, the open file is still there to write and read.
  std::size_t n = 0;
  ASSERT_EQ(f->WriteAt(4, "!", 1, &n), 0);
  char back[5];
  ASSERT_EQ(f->ReadAt(0, back, 5, &n), 0);
  EXPECT_EQ(std::string(back, n), "data!");
  ASSERT_EQ(f->Stat(&a), 0);
  if (namesGoAtOnce) {
    EXPECT_EQ(a.links, 0u);
  }
  f.reset();
  std::vector<std::string> names{"stale"};
  ASSERT_EQ(dir_->List(&names), 0);
  EXPECT_TRUE(names.empty());
}

TEST_P(EnvContract, OneOpenFileAtATimeHoldsTheLock) {
  auto first = Create(".lock");
  ASSERT_EQ(first->TryLock(), 0);
  EXPECT_EQ(first->TryLock(), 0);  // held already
  std::unique_ptr<WritableFile> second;
  ASSERT_EQ(dir_->OpenFile(".lock", OpenMode::kExistingForLocking, 0, &second), 0);
  EXPECT_EQ(second->TryLock(), EWOULDBLOCK);
  std::size_t n = 0;
  EXPECT_EQ(second->WriteAt(0, "x", 1, &n), EBADF);
  // The lock is held, not the file: the second one looks at it all the same.
  FileInfo a, b;
  ASSERT_EQ(first->Stat(&a), 0);
  ASSERT_EQ(second->Stat(&b), 0);
  EXPECT_TRUE(a.SameFile(b));
  // Closing, or destroying, the holder frees it.
  ASSERT_EQ(first->Close(), 0);
  EXPECT_EQ(second->TryLock(), 0);
  second.reset();
  std::unique_ptr<WritableFile> third;
  ASSERT_EQ(dir_->OpenFile(".lock", OpenMode::kExistingForLocking, 0, &third), 0);
  EXPECT_EQ(third->TryLock(), 0);
  EXPECT_EQ(dir_->OpenFile("absent", OpenMode::kExistingForLocking, 0, &third), ENOENT);
}

TEST_P(EnvContract, PathsAndNamesDescribeWhatTheyLeadTo) {
  auto f = Create("f", "12345");
  ASSERT_EQ(f->SetPermissions(0600), 0);
  FileInfo info;
  ASSERT_EQ(env_->Stat(root_ + "/f", true, &info), 0);
  EXPECT_EQ(info.kind, FileInfo::Kind::kRegular);
  EXPECT_EQ(info.size, 5u);
  // Windows keeps no more of a mode than whether the file may be written.
  EXPECT_EQ(info.permissions, std::string(GetParam()) == "win32" ? 0666u : 0600u);
  ASSERT_EQ(env_->Stat(root_ + "/./f", false, &info), 0);
  EXPECT_EQ(info.size, 5u);
  ASSERT_EQ(env_->CreateDirectory(root_ + "/sub"), 0);
  EXPECT_EQ(env_->CreateDirectory(root_ + "/sub"), EEXIST);
  EXPECT_EQ(env_->CreateDirectory(root_ + "/no/sub"), ENOENT);
  ASSERT_EQ(env_->Stat(root_ + "/sub", true, &info), 0);
  EXPECT_EQ(info.kind, FileInfo::Kind::kDirectory);
  EXPECT_EQ(env_->Stat(root_ + "/none", true, &info), ENOENT);
  std::unique_ptr<Directory> sub;
  ASSERT_EQ(env_->OpenDirectory(root_ + "/sub", &sub), 0);
  EXPECT_EQ(env_->OpenDirectory(root_ + "/f", &sub), ENOTDIR);
  EXPECT_EQ(env_->OpenDirectory(root_ + "/none", &sub), ENOENT);
  std::unique_ptr<WritableFile> g;
  EXPECT_EQ(dir_->OpenFile("none/g", OpenMode::kCreateOrOpen, 0644, &g), ENOENT);
  EXPECT_EQ(dir_->OpenFile("sub", OpenMode::kCreateOrOpen, 0644, &g), EISDIR);
  const std::uint32_t mode = env_->NewFilePermissions();
  EXPECT_EQ(mode & ~0666u, 0u);
  EXPECT_NE(mode & 0600u, 0u);
}

INSTANTIATE_TEST_SUITE_P(Envs, EnvContract, ::testing::Values(kSystem, "memory"),
                         [](const auto& param) { return std::string(param.param); });

}  // namespace
}  // namespace fs
