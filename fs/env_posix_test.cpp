// What only the POSIX system's files have.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>

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

}  // namespace
}  // namespace fs
