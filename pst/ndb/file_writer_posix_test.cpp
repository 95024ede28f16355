// What the file writer does for a process killed while writing; POSIX only, for it kills a forked
// copy of the test (Windows has no fork).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "fs/temp_tree_test.h"
#include "pst/ndb/file_writer.h"
#include "pst/ndb/ndb_test_reader.h"

namespace pst::ndb {
namespace {

namespace fs = std::filesystem;

using test_reader::Random;
using test_reader::ReadAll;

class NdbFileWriterKilled : public ::testing::Test {
 protected:
  ::fs::testing::TempTree tree_;
  const fs::path dir_ = tree_.root();
  const std::string target_ = (dir_ / "out.pst").string();
};

TEST_F(NdbFileWriterKilled, KilledWriterLeavesTargetUntouched) {
  { std::ofstream(target_) << "old contents"; }
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    FileWriterOptions o;
    o.bufferSize = 64 << 10;
    auto w = FileWriter::Create(target_, o);
    const auto data = Random(kMaxBlockData, 1);
    for (;;) {
      if (!w.ok() || !w.value()->WriteDataBlock(data).ok()) ::_exit(1);
    }
  }
  // Let it get well into writing, then kill it without warning.
  std::uintmax_t tempSize = 0;
  for (int i = 0; i < 500 && tempSize < (4u << 20); ++i) {
    ::usleep(10000);
    for (const auto& e : fs::directory_iterator(dir_)) {
      if (e.path() != fs::path(target_)) tempSize = e.file_size();
    }
  }
  ::kill(child, SIGKILL);
  int status = 0;
  ::waitpid(child, &status, 0);
  EXPECT_TRUE(WIFSIGNALED(status));
  EXPECT_GE(tempSize, 4u << 20);
  EXPECT_EQ(ReadAll(target_), "old contents");
}

}  // namespace
}  // namespace pst::ndb
