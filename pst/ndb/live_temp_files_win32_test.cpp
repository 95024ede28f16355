// The hasty-exit clean-up on Windows: the names go at once, the data with the writer's handle.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fs/env.h"
#include "fs/temp_tree_test.h"
#include "pst/ndb/file_writer.h"
#include "pst/ndb/live_temp_files.h"

namespace pst::ndb {
namespace {

TEST(LiveTemporaryFiles, RemovedFilesCannotBeOpenedAgainAndLeaveTheTargetAlone) {
  fs::testing::TempTree tree;
  const std::string target = tree.File("out.pst", "old contents");
  FileWriterOptions options;
  options.sync = false;
  auto w = FileWriter::Create(target, options);
  ASSERT_TRUE(w.ok()) << w.status().ToString();
  ASSERT_TRUE(w.value()->WriteDataBlock(std::vector<std::uint8_t>(5000, 0x5A)).ok());
  const std::string temp = w.value()->temporaryPath();
  std::unique_ptr<fs::ReadableFile> reader;
  fs::FileInfo info;
  ASSERT_EQ(fs::SystemEnv().OpenForReading(temp, &reader, &info), 0);
  reader.reset();

  RemoveLiveTemporaryFiles();
  // Deleted, though the writer still holds it open: no one opens it any more.
  EXPECT_NE(fs::SystemEnv().OpenForReading(temp, &reader, &info), 0);
  // What the process's end does: the writer's handle closes, and the file is gone with it.
  w.value().reset();
  EXPECT_FALSE(std::filesystem::exists(temp));
  std::ifstream in(target, std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "old contents");
}

}  // namespace
}  // namespace pst::ndb
