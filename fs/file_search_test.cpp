#include "fs/file_search.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <set>

#include "fs/temp_tree_test.h"

namespace fs {
namespace {

using testing::TempTree;

std::set<std::string> AllNames(const std::string& spec) {
  std::set<std::string> names;
  FindEntry entry;
  if (FindFirst(spec, entry) == kInvalidHandle) return names;
  do {
    names.insert(entry.Name);
  } while (FindNext(entry));
  return names;
}

TEST(FileSearchTest, InitRunsOnceAndChoosesThePathCalls) {
  GetAttributes("/");
  EXPECT_TRUE(TheApiCaps().Initialized);
  EXPECT_TRUE(TheApiCaps().IsNT);
}

TEST(FileSearchTest, AttributesOfFoldersFilesAndMissingPaths) {
  TempTree t;
  const std::string folder = t.Folder("Inbox");
  const std::string file = t.File("Inbox/a.eml");
  const std::string hidden = t.File(".hidden");
  EXPECT_NE(GetAttributes(folder) & kAttrDirectory, 0u);
  EXPECT_EQ(GetAttributes(file) & kAttrDirectory, 0u);
  EXPECT_NE(GetAttributes(hidden) & kAttrHidden, 0u);
  EXPECT_EQ(GetAttributes(t.Path("missing")), kInvalidAttributes);
  EXPECT_EQ(GetAttributes(""), kInvalidAttributes);
  // A link to a folder counts as a folder, as a junction does on Windows.
  ASSERT_EQ(symlink(folder.c_str(), t.Path("link").c_str()), 0);
  EXPECT_NE(GetAttributes(t.Path("link")) & kAttrDirectory, 0u);
  // A dangling link is still an entry, and not a folder.
  ASSERT_EQ(symlink(t.Path("nowhere").c_str(), t.Path("dangling").c_str()), 0);
  const std::uint32_t dangling = GetAttributes(t.Path("dangling"));
  EXPECT_NE(dangling, kInvalidAttributes);
  EXPECT_EQ(dangling & kAttrDirectory, 0u);
}

TEST(FileSearchTest, StarDotStarFindsEveryNameWithOrWithoutADot) {
  TempTree t;
  t.File("README");
  t.File("a.eml");
  t.File("B.EMLX");
  t.Folder("Sub");
  EXPECT_EQ(AllNames(t.root() + "/*.*"),
            (std::set<std::string>{".", "..", "README", "a.eml", "B.EMLX", "Sub"}));
  EXPECT_EQ(AllNames(t.root() + "/*"), AllNames(t.root() + "/*.*"));
  // Letter case is ignored, as the Windows search does.
  EXPECT_EQ(AllNames(t.root() + "/*.eml"), (std::set<std::string>{"a.eml"}));
  EXPECT_EQ(AllNames(t.root() + "/*.EML*"), (std::set<std::string>{"a.eml", "B.EMLX"}));
  EXPECT_EQ(AllNames(t.root() + "/?.eml"), (std::set<std::string>{"a.eml"}));
  EXPECT_TRUE(AllNames(t.root() + "/nothing*").empty());
}

TEST(FileSearchTest, PatternMatchingFollowsWindowsRules) {
  struct Case {
    const char* pattern;
    const char* name;
    bool match;
  } cases[] = {
      {"*.*", "README", true},
      {"*.*", ".", true},
      {"*", "x.y.z", true},
      {"*.eml", "a.EML", true},
      {"*.eml", "a.emlx", false},
      {"a?c", "abc", true},
      {"a?c", "ac", false},
      {"README.*", "README", true},
      {"README.*", "README.md", true},
      {"*mail*", "MyMailbox", true},
      {"**a", "bba", true},
      {"a*b*c", "axxbyyc", true},
      {"a*b*c", "axxbyy", false},
      {"", "", true},
      {"", "x", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(MatchesPattern(c.pattern, c.name), c.match) << c.pattern << " vs " << c.name;
  }
}

TEST(FileSearchTest, SearchLifecycleAndFtpSpecifications) {
  TempTree t;
  t.File("one");
  FindEntry entry;
  EXPECT_EQ(FindFirst("FTP://host/*.*", entry), kInvalidHandle);
  EXPECT_FALSE(entry.Found);
  EXPECT_EQ(FindFirst("ftp://host/x", entry), kInvalidHandle);

  ASSERT_NE(FindFirst(t.root() + "/one", entry), kInvalidHandle);
  EXPECT_TRUE(entry.Found);
  EXPECT_EQ(entry.Name, "one");
  EXPECT_FALSE(FindNext(entry));
  EXPECT_EQ(entry.Handle, kInvalidHandle);
  EXPECT_FALSE(entry.Found);
  FindEnd(entry);  // ending an ended search does nothing
  EXPECT_EQ(entry.Handle, kInvalidHandle);
  EXPECT_FALSE(FindNext(entry));

  EXPECT_EQ(FindFirst(t.Path("missing") + "/*", entry), kInvalidHandle);
  EXPECT_EQ(FindFirst(t.Path("one") + "/*", entry), kInvalidHandle);  // not a folder
  EXPECT_EQ(FindFirst(t.root() + "/", entry), kInvalidHandle);        // no pattern
}

TEST(FileSearchTest, FolderExistsAnswersInItsFourSteps) {
  TempTree t;
  const std::string folder = t.Folder("Mail");
  const std::string file = t.File("Mail/a.eml");
  EXPECT_TRUE(FolderExists(folder));
  EXPECT_TRUE(FolderExists(folder + "/"));
  EXPECT_TRUE(FolderExists("/"));
  EXPECT_FALSE(FolderExists(file));
  EXPECT_FALSE(FolderExists(t.Path("missing")));
  // The attribute query fails on the untrimmed path; the search on the trimmed one succeeds.
  EXPECT_EQ(GetAttributes(folder + " "), kInvalidAttributes);
  EXPECT_TRUE(FolderExists(folder + " "));
  EXPECT_TRUE(FolderExists("  " + folder));
  // Nothing left after trimming: the search runs on the root.
  EXPECT_TRUE(FolderExists("   "));
}

TEST(FileSearchTest, FileExistsForFilesFoldersAndPatterns) {
  TempTree t;
  const std::string file = t.File("Mail/a.eml");
  t.Folder("Mail/b.eml.d");
  EXPECT_TRUE(FileExists(file));
  EXPECT_FALSE(FileExists(t.Path("Mail")));
  EXPECT_FALSE(FileExists(t.Path("Mail/none.eml")));
  EXPECT_TRUE(FileExists(t.Path("Mail/*.eml")));
  EXPECT_FALSE(FileExists(t.Path("Mail/*.d")));  // the first match is a folder
  EXPECT_FALSE(FileExists(t.Path("Mail/*.pst")));
}

TEST(FileSearchTest, NamesThatAreNotUtf8AreFoundAndQueried) {
  TempTree t;
  const std::string latin1 = "caf\xE9.eml";
  t.File(latin1);
  EXPECT_EQ(AllNames(t.root() + "/*.eml"), (std::set<std::string>{latin1}));
  EXPECT_TRUE(FileExists(t.Path(latin1)));
}

TEST(FileSearchTest, PathsLongerThanPathMaxCanBeTestedAndSearched) {
  TempTree t;
  const std::string part(200, 'd');
  std::string relative;
  for (int i = 0; i < 25; ++i) relative += (i ? "/" : "") + part;  // about 5,000 bytes
  // create_directories cannot take such a path in one piece; build it a level at a time.
  ASSERT_EQ(chdir(t.root().c_str()), 0);
  for (int i = 0; i < 25; ++i) {
    ASSERT_EQ(mkdir(part.c_str(), 0755), 0);
    ASSERT_EQ(chdir(part.c_str()), 0);
  }
  FILE* f = fopen("deep.eml", "w");
  ASSERT_NE(f, nullptr);
  fclose(f);
  ASSERT_EQ(chdir("/"), 0);

  const std::string deep = t.Path(relative);
  ASSERT_GT(deep.size(), 4096u);
  EXPECT_TRUE(FolderExists(deep));
  EXPECT_TRUE(FileExists(deep + "/deep.eml"));
  EXPECT_FALSE(FileExists(deep + "/other.eml"));
  EXPECT_EQ(AllNames(deep + "/*.eml"), (std::set<std::string>{"deep.eml"}));
  FileId a, b;
  EXPECT_TRUE(GetFileId(deep, a));
  EXPECT_TRUE(GetFileId(deep + "/", b));
  EXPECT_EQ(a, b);

  // std::filesystem cannot remove what it cannot name in one path: take it down a level at a time.
  ASSERT_EQ(chdir(t.root().c_str()), 0);
  for (int i = 0; i < 25; ++i) ASSERT_EQ(chdir(part.c_str()), 0);
  ASSERT_EQ(unlink("deep.eml"), 0);
  for (int i = 0; i < 25; ++i) {
    ASSERT_EQ(chdir(".."), 0);
    ASSERT_EQ(rmdir(part.c_str()), 0);
  }
  ASSERT_EQ(chdir("/"), 0);
}

}  // namespace
}  // namespace fs
