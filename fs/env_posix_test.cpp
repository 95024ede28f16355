// What only the POSIX system's files have.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <thread>

#include "fs/env.h"
#include "fs/temp_tree_test.h"

namespace fs {
namespace {

// What only the system's files have: things that are neither file nor folder.
TEST(PosixEnv, AFifoIsNotARegularFileAndDoesNotBlockTheOpen) {
  testing::TempTree tree;
  const std::string fifo = tree.Path("pipe.eml");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::unique_ptr<ReadableFile> r;
  FileInfo info;
  EXPECT_EQ(PosixEnv().OpenForReading(fifo, &r, &info), kNotRegularFile);
  EXPECT_EQ(ErrorText(kNotRegularFile), "not a regular file");
  ASSERT_EQ(PosixEnv().Stat(fifo, false, &info), 0);
  EXPECT_EQ(info.kind, FileInfo::Kind::kOther);
}

// Reading the mask must not change it, even for a moment: a file another thread creates meanwhile
// would get the full permissions 0666 instead of what the mask allows.
TEST(PosixEnv, ReadingTheFileMaskLeavesOtherThreadsFilesAlone) {
  testing::TempTree tree;
  const mode_t before = ::umask(022);
  std::atomic<bool> done{false};
  std::thread reader([&] {
    while (!done) EXPECT_EQ(PosixEnv().NewFilePermissions(), 0644u);
  });
  const std::string file = tree.Path("f");
  int widened = 0;
  for (int i = 0; i < 5000; ++i) {
    const int fd = ::open(file.c_str(), O_CREAT | O_EXCL | O_WRONLY, 0666);
    ASSERT_GE(fd, 0);
    struct stat st;
    ASSERT_EQ(::fstat(fd, &st), 0);
    if ((st.st_mode & 0777) != 0644) ++widened;
    ::close(fd);
    ::unlink(file.c_str());
  }
  done = true;
  reader.join();
  ::umask(before);
  EXPECT_EQ(widened, 0);
}

}  // namespace
}  // namespace fs
