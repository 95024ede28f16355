// Where a finished file goes, and under which names.
#include "pst/ndb/file_placement_test.h"

#include <filesystem>
#include <set>
#include <string>

namespace pst::ndb {
namespace {

namespace fs = std::filesystem;
using testing::FilePlacement;
using testing::ReadAll;
using testing::WriteText;

TEST_F(FilePlacement, AFileThatAppearedAtTheTargetMeanwhileIsKept) {
  auto w = Open(target_);
  WriteText(target_, "another run's data file");
  WriteText(dir_ / "out (2).pst", "and another");
  ASSERT_TRUE(w->Close().ok());
  EXPECT_EQ(ReadAll(target_), "another run's data file");
  EXPECT_EQ(ReadAll(dir_ / "out (2).pst"), "and another");
  EXPECT_EQ(w->writtenPath(), (dir_ / "out (3).pst").string());
  EXPECT_TRUE(IsStore(w->writtenPath()));
  EXPECT_EQ(Names(), (std::set<std::string>{"out.pst", "out (2).pst", "out (3).pst"}));
}

TEST_F(FilePlacement, OnlyTheFileThatWasAtTheTargetAtTheStartIsReplaced) {
  // The one the caller agreed to replace.
  WriteText(target_, "old");
  auto w = Open(target_);
  ASSERT_TRUE(w->Close().ok());
  EXPECT_EQ(w->writtenPath(), target_);
  EXPECT_TRUE(IsStore(target_));

  // Replaced by a different file meanwhile (same name, new file): that one stays.
  WriteText(target_, "old");
  w = Open(target_);
  WriteText(dir_ / "new", "someone else's newer file");
  fs::rename(dir_ / "new", target_);
  ASSERT_TRUE(w->Close().ok());
  EXPECT_EQ(ReadAll(target_), "someone else's newer file");
  EXPECT_EQ(w->writtenPath(), (dir_ / "out (2).pst").string());
  EXPECT_TRUE(IsStore(dir_ / "out (2).pst"));

  // Removed meanwhile: the name is free, so it is used.
  fs::remove(dir_ / "out (2).pst");
  w = Open(target_);
  fs::remove(target_);
  ASSERT_TRUE(w->Close().ok());
  EXPECT_EQ(w->writtenPath(), target_);
  EXPECT_TRUE(IsStore(target_));
  EXPECT_EQ(Names(), std::set<std::string>{"out.pst"});
}

TEST_F(FilePlacement, TargetNamesUpToTheSystemsLimitCanBeWritten) {
  for (std::size_t length : {245u, 251u, 255u}) {
    const std::string name = std::string(length - 4, 'n') + ".pst";
    const std::string target = (dir_ / name).string();
    auto w = Open(target);
    ASSERT_NE(w, nullptr) << length;
    ASSERT_TRUE(w->Close().ok()) << length;
    EXPECT_TRUE(IsStore(target));
  }
}

}  // namespace
}  // namespace pst::ndb
