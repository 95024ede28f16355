#include "engine/output_check.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <set>
#include <string>

#include "fs/faulty_env.h"
#include "fs/temp_tree_test.h"

namespace engine {
namespace {

using fs::testing::TempTree;

TEST(OutputCheckTest, UsableFolderPassesAndLeavesNothingBehind) {
  TempTree tree;
  const std::string out = tree.Folder("out");
  EXPECT_TRUE(CheckOutputFolder(out, 1024).ok());
  EXPECT_TRUE(CheckOutputFolder(out + "/", 0).ok());
  EXPECT_TRUE(std::filesystem::is_empty(out));  // the probe file is gone again
}

TEST(OutputCheckTest, MissingEmptyOrFileIsNamedWithWhatToDo) {
  TempTree tree;
  const quill::Status missing = CheckOutputFolder(tree.Path("gone"), 0);
  ASSERT_FALSE(missing.ok());
  EXPECT_EQ(missing.message(),
            "The output folder " + tree.Path("gone") +
                " cannot be used: No such file or directory. Choose a folder that exists.");
  const std::string file = tree.File("a.txt");
  const quill::Status notFolder = CheckOutputFolder(file, 0);
  ASSERT_FALSE(notFolder.ok());
  EXPECT_EQ(notFolder.message(),
            "The output folder " + file + " is not a folder. Choose a folder that exists.");
  EXPECT_EQ(CheckOutputFolder("", 0).message(), "No output folder is given. Choose a folder.");
}

TEST(OutputCheckTest, ReadOnlyFolderAsksForOneThatCanBeWritten) {
  TempTree tree;
  ASSERT_EQ(chmod(tree.root().c_str(), 0755), 0);
  const std::string out = tree.Folder("ro");
  ASSERT_EQ(chmod(out.c_str(), 0555), 0);
  // As an ordinary user: root writes into read-only folders.
  const std::string message =
      fs::testing::AsUnprivilegedUser([&] { return CheckOutputFolder(out, 0).message(); });
  chmod(out.c_str(), 0755);
  EXPECT_EQ(message, "The data file could not be created in " + out +
                         ": Permission denied. Choose a folder you can write to.");
}

// A folder whose look-up, opening or file creation fails is refused with the system's reason;
// only a failure to tidy up (closing or removing the empty probe file) lets it pass, since the
// folder took the file.
TEST(OutputCheckTest, EveryFailingStepIsReported) {
  TempTree tree;
  const std::string out = tree.Folder("out");
  fs::FaultyEnv env(fs::PosixEnv());
  env.FailCall(0, 0);
  ASSERT_TRUE(CheckOutputFolder(out, 0, env).ok());
  const std::uint64_t calls = env.calls();
  ASSERT_GE(calls, 5u);  // stat, open folder, stat of the name, open, close, remove
  std::set<std::string> refused;
  for (std::uint64_t n = 1; n <= calls; ++n) {
    env.FailCall(n, EACCES);
    const quill::Status status = CheckOutputFolder(out, 0, env);
    SCOPED_TRACE(env.faulted());
    if (env.faulted() == "close" || env.faulted() == "remove") {
      EXPECT_TRUE(status.ok());
      for (const auto& entry : std::filesystem::directory_iterator(out))
        std::filesystem::remove(entry.path());
      continue;
    }
    ASSERT_FALSE(status.ok());
    EXPECT_NE(status.message().find(out), std::string::npos) << status.message();
    EXPECT_NE(status.message().find(": Permission denied. "), std::string::npos) << status.message();
    EXPECT_TRUE(std::filesystem::is_empty(out));
    refused.insert(env.faulted());
  }
  EXPECT_EQ(refused, (std::set<std::string>{"stat", "open folder", "open"}));
}

TEST(OutputCheckTest, MoreThanTheFreeSpaceIsRefused) {
  TempTree tree;
  const std::string out = tree.Folder("out");
  const quill::Status status = CheckOutputFolder(out, UINT64_C(1) << 62);  // 4 EB: more than any disk here
  ASSERT_FALSE(status.ok());
  EXPECT_EQ(status.message().rfind("There is not enough free space in " + out + ": about ", 0), 0u);
  EXPECT_NE(status.message().find(" are free. Free some space"), std::string::npos);
}

TEST(OutputCheckTest, TreeAndListSizesCountRegularFilesOnly) {
  TempTree tree;
  tree.File("src/a.eml", std::string(1000, 'a'));
  tree.File("src/sub/deeper/b.eml", std::string(234, 'b'));
  tree.File("elsewhere/big", std::string(5000, 'c'));
  // A link to a large file outside is not followed: the source does not hold that file.
  ASSERT_EQ(symlink(tree.Path("elsewhere/big").c_str(), tree.Path("src/link").c_str()), 0);
  int yields = 0;
  EXPECT_EQ(TreeBytes(tree.Path("src"), [&] { ++yields; }), 1234u);
  EXPECT_EQ(TreeBytes(tree.Path("missing")), 0u);

  fs::KeyedList list;
  ASSERT_TRUE(list.Add(tree.Path("src/a.eml"), "K1").ok());
  ASSERT_TRUE(list.Add(tree.Path("src/gone.eml"), "K2").ok());
  ASSERT_TRUE(list.Add(tree.Path("src/sub"), "K3").ok());
  EXPECT_EQ(ListedBytes(list), 1000u);

  EXPECT_EQ(SizeText(0), "0 KB");
  EXPECT_EQ(SizeText(10), "1 KB");
  EXPECT_EQ(SizeText(3 * 1024 * 1024 + 400 * 1024), "3.4 MB");
  EXPECT_EQ(SizeText(UINT64_C(5) << 30), "5.0 GB");
}

}  // namespace
}  // namespace engine
