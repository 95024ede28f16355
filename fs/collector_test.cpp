#include "fs/collector.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <functional>

#include "fs/temp_tree_test.h"

namespace fs {
namespace {

using testing::AsUnprivilegedUser;
using testing::TempTree;

// One walk's lists and counters, started as the conversion driver starts them.
struct Walk {
  KeyedList files;
  KeyedList folders;
  std::int32_t fileCounter = 1;
  std::int32_t folderCounter = 0;
  std::vector<std::string> captions;
  int yields = 0;

  quill::Status Run(std::string& folder, const std::string& pattern = "*.*") {
    CollectorHooks hooks;
    hooks.setCountCaption = [this](const std::string& c) { captions.push_back(c); };
    hooks.yield = [this] { ++yields; };
    return CollectFiles(folder, pattern, fileCounter, folderCounter, files, folders, hooks);
  }
};

std::size_t IndexOf(const KeyedList& list, const std::string& item) {
  const auto& items = list.Items();
  return std::find(items.begin(), items.end(), item) - items.begin();
}

TEST(CollectorTest, WalksDepthFirstWithFilesBeforeSubfolders) {
  TempTree t;
  t.File("R/r1");
  t.File("R/A/a1");
  t.File("R/A/A1/x1");
  t.File("R/B/b1");
  Walk w;
  std::string root = t.Path("R");
  ASSERT_TRUE(w.Run(root).ok());
  EXPECT_EQ(root, t.Path("R/"));

  // The search decides whether A or B comes first; everything else follows from that.
  const bool aFirst = w.folders.Item(0) == root + "A";
  const std::vector<std::string> folders =
      aFirst ? std::vector<std::string>{root + "A", root + "B", root + "A/A1"}
             : std::vector<std::string>{root + "B", root + "A", root + "A/A1"};
  const std::vector<std::string> files =
      aFirst ? std::vector<std::string>{root + "r1", root + "A/a1", root + "A/A1/x1", root + "B/b1"}
             : std::vector<std::string>{root + "r1", root + "B/b1", root + "A/a1", root + "A/A1/x1"};
  EXPECT_EQ(w.folders.Items(), folders);
  EXPECT_EQ(w.files.Items(), files);
  EXPECT_TRUE(w.files.ContainsKey("K1"));
  EXPECT_TRUE(w.files.ContainsKey("K4"));
  EXPECT_TRUE(w.folders.ContainsKey("Z0"));
  EXPECT_TRUE(w.folders.ContainsKey("Z2"));
  EXPECT_EQ(w.fileCounter, 5);
  EXPECT_EQ(w.folderCounter, 3);
  EXPECT_EQ(w.captions.front(), "1 Messages Queued for Conversion.");
  EXPECT_EQ(w.captions.back(), "4 Messages Queued for Conversion.");
  EXPECT_GT(w.yields, 20);
}

TEST(CollectorTest, CollectsEveryKindOfFileAndSkipsNothing) {
  TempTree t;
  t.File("M/README");
  t.File("M/.hidden.eml");
  t.File("M/UPPER.EML");
  t.File("M/caf\xE9.eml");
  t.Folder("M/.hiddenfolder");
  t.Folder("M/empty");
  Walk w;
  std::string root = t.Path("M");
  ASSERT_TRUE(w.Run(root).ok());
  std::vector<std::string> files = w.files.Items();
  std::sort(files.begin(), files.end());
  EXPECT_EQ(files, (std::vector<std::string>{root + ".hidden.eml", root + "README", root + "UPPER.EML",
                                             root + "caf\xE9.eml"}));
  EXPECT_EQ(w.folders.Count(), 2u);
  EXPECT_LT(IndexOf(w.folders, root + "empty"), 2u);
  EXPECT_LT(IndexOf(w.folders, root + ".hiddenfolder"), 2u);
}

TEST(CollectorTest, EmptyAndMissingFoldersAddNothing) {
  TempTree t;
  Walk w;
  std::string empty = t.Folder("empty");
  ASSERT_TRUE(w.Run(empty).ok());
  std::string missing = t.Path("missing");
  ASSERT_TRUE(w.Run(missing).ok());
  std::string ftp = "ftp://host/dir";
  ASSERT_TRUE(w.Run(ftp).ok());
  EXPECT_TRUE(w.files.Empty());
  EXPECT_TRUE(w.folders.Empty());
  EXPECT_TRUE(w.captions.empty());
  EXPECT_EQ(w.fileCounter, 1);
}

TEST(CollectorTest, PatternLimitsFilesButNotFolders) {
  TempTree t;
  t.File("M/a.eml");
  t.File("M/b.txt");
  t.File("M/sub.eml/c.eml");
  Walk w;
  std::string root = t.Path("M");
  ASSERT_TRUE(w.Run(root, "*.eml").ok());
  EXPECT_EQ(w.folders.Items(), std::vector<std::string>{root + "sub.eml"});
  EXPECT_EQ(w.files.Items(), (std::vector<std::string>{root + "a.eml", root + "sub.eml/c.eml"}));
}

TEST(CollectorTest, LinkLoopIsListedButWalkedOnce) {
  TempTree t;
  t.File("M/a.eml");
  t.File("M/Sub/b.eml");
  ASSERT_EQ(symlink(t.Path("M").c_str(), t.Path("M/Sub/back").c_str()), 0);
  ASSERT_EQ(symlink(t.Path("M/Sub").c_str(), t.Path("M/again").c_str()), 0);
  Walk w;
  std::string root = t.Path("M");
  ASSERT_TRUE(w.Run(root).ok());
  // Sub is reached either directly or through "again", and walked once; "back" leads to the root.
  EXPECT_EQ(w.files.Count(), 2u);
  EXPECT_EQ(w.folders.Count(), 3u);
  EXPECT_LT(IndexOf(w.folders, root + "Sub"), 3u);
  EXPECT_LT(IndexOf(w.folders, root + "again"), 3u);
  const bool viaSub = IndexOf(w.folders, root + "Sub/back") < 3u;
  const bool viaAgain = IndexOf(w.folders, root + "again/back") < 3u;
  EXPECT_TRUE(viaSub != viaAgain);
}

TEST(CollectorTest, DeepTreeDoesNotExhaustTheStack) {
  TempTree t;
  // Deep enough that a recursion keeping a path per level on a small stack would be at risk.
  const int depth = 1500;
  ASSERT_EQ(chdir(t.root().c_str()), 0);
  for (int i = 0; i < depth; ++i) {
    ASSERT_EQ(mkdir("d", 0755), 0);
    ASSERT_EQ(chdir("d"), 0);
  }
  FILE* f = fopen("bottom.eml", "w");
  ASSERT_NE(f, nullptr);
  fclose(f);
  ASSERT_EQ(chdir("/"), 0);
  Walk w;
  std::string root = t.root();
  ASSERT_TRUE(w.Run(root).ok());
  EXPECT_EQ(w.folders.Count(), static_cast<std::size_t>(depth));
  ASSERT_EQ(w.files.Count(), 1u);
  EXPECT_EQ(w.files.Item(0).size(), root.size() + depth * 2 + std::string("bottom.eml").size());
}

TEST(CollectorTest, CountersRunAcrossWalksAndKeysMustStayUnique) {
  TempTree t;
  t.File("One/a");
  t.File("One/S/b");
  t.File("Two/c");
  t.Folder("Two/T");
  Walk w;
  std::string one = t.Path("One");
  ASSERT_TRUE(w.Run(one).ok());
  EXPECT_EQ(w.fileCounter, 3);
  EXPECT_EQ(w.folderCounter, 1);
  // The folder counter keeps running; with the file list emptied and its counter reset, a second
  // walk works.
  w.files.Clear();
  w.fileCounter = 1;
  std::string two = t.Path("Two");
  ASSERT_TRUE(w.Run(two).ok());
  EXPECT_EQ(w.folders.Items(), (std::vector<std::string>{one + "S", two + "T"}));
  EXPECT_TRUE(w.folders.ContainsKey("Z1"));
  // Without emptying the file list, the first file of the next walk collides with K1.
  w.fileCounter = 1;
  std::string again = t.Path("One");
  const quill::Status status = w.Run(again);
  EXPECT_EQ(status.code(), quill::Status::Code::kAlreadyExists);
  EXPECT_NE(status.message().find("K1"), std::string::npos);
  EXPECT_EQ(w.files.Count(), 1u);
}

TEST(CollectorTest, CounterOverflowStopsTheWalk) {
  TempTree t;
  t.File("M/a");
  t.File("M/b");
  Walk w;
  w.fileCounter = 2147483646;
  std::string root = t.Path("M");
  const quill::Status status = w.Run(root);
  EXPECT_EQ(status.code(), quill::Status::Code::kInvalidArgument);
  EXPECT_EQ(w.files.Count(), 1u);
}

// A walk as "nobody": "folder|" for each folder, "file|" for each file, "unreadable|" for each
// folder named as unreadable, in that order.
std::string WalkAsNobody(const std::string& root) {
  return AsUnprivilegedUser([root] {
    Walk w;
    std::vector<std::string> unreadable;
    CollectorHooks hooks;
    hooks.folderUnreadable = [&](const std::string& folder, const std::string& cause) {
      unreadable.push_back(folder + " (" + cause + ")");
    };
    std::string folder = root;
    const quill::Status status =
        CollectFiles(folder, "*.*", w.fileCounter, w.folderCounter, w.files, w.folders, hooks);
    std::string out = status.ok() ? "" : "status " + status.message() + "\n";
    for (const std::string& f : w.folders.Items()) out += "folder|" + f + "\n";
    for (const std::string& f : w.files.Items()) out += "file|" + f + "\n";
    for (const std::string& f : unreadable) out += "unreadable|" + f + "\n";
    return out;
  });
}

TEST(CollectorTest, UnreadableFoldersAreNamedAndTheWalkGoesOn) {
  TempTree t;
  ASSERT_EQ(chmod(t.root().c_str(), 0755), 0);
  t.File("M/Open/b.eml");
  t.File("M/Locked/secret.eml");
  t.File("M/Passage/hidden.eml");
  ASSERT_EQ(chmod(t.Path("M/Locked").c_str(), 0), 0);
  // Searchable but not listable: the files are there, but no walk can learn their names.
  ASSERT_EQ(chmod(t.Path("M/Passage").c_str(), 0311), 0);
  const std::string root = t.Path("M/");
  const std::string out = WalkAsNobody(root);
  chmod(t.Path("M/Locked").c_str(), 0755);
  chmod(t.Path("M/Passage").c_str(), 0755);

  std::vector<std::string> lines;
  for (std::size_t start = 0, end; (end = out.find('\n', start)) != std::string::npos; start = end + 1) {
    lines.push_back(out.substr(start, end - start));
  }
  std::sort(lines.begin(), lines.end());
  const std::vector<std::string> expected = {
      "file|" + root + "Open/b.eml",
      "folder|" + root + "Locked",
      "folder|" + root + "Open",
      "folder|" + root + "Passage",
      "unreadable|" + root + "Locked (Permission denied)",
      "unreadable|" + root + "Passage (Permission denied)",
  };
  EXPECT_EQ(lines, expected) << out;
}

TEST(CollectorTest, AnUnreadableRootIsNamedToo) {
  TempTree t;
  ASSERT_EQ(chmod(t.root().c_str(), 0755), 0);
  t.File("M/a.eml");
  ASSERT_EQ(chmod(t.Path("M").c_str(), 0), 0);
  const std::string out = WalkAsNobody(t.Path("M"));
  chmod(t.Path("M").c_str(), 0755);
  EXPECT_EQ(out, "unreadable|" + t.Path("M") + " (Permission denied)\n");
}

TEST(CollectorTest, AnEmptyFolderIsNotUnreadable) {
  TempTree t;
  t.Folder("M/Empty");
  Walk w;
  std::vector<std::string> unreadable;
  CollectorHooks hooks;
  hooks.folderUnreadable = [&](const std::string& folder, const std::string&) {
    unreadable.push_back(folder);
  };
  std::string root = t.Path("M");
  ASSERT_TRUE(CollectFiles(root, "*.eml", w.fileCounter, w.folderCounter, w.files, w.folders, hooks).ok());
  EXPECT_TRUE(unreadable.empty());
  EXPECT_EQ(w.folders.Items(), std::vector<std::string>{root + "Empty"});
}

}  // namespace
}  // namespace fs
