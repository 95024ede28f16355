// The Windows backend, run against the real Windows calls (under wine on the build machine).
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "fs/collector.h"
#include "fs/file_search.h"
#include "fs/path_forms.h"

namespace fs {
namespace {

std::wstring Wide(const std::string& utf8) {
  std::wstring wide(utf8.size(), L'\0');
  const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(),
                                    static_cast<int>(wide.size()));
  wide.resize(static_cast<std::size_t>(n));
  return wide;
}

// A scratch folder under the temporary folder, made and removed with the wide calls in long form
// so that paths past 260 characters work in the test's own set-up too.
class Scratch {
 public:
  Scratch() {
    const std::u8string temp = std::filesystem::temp_directory_path().u8string();
    std::string base(temp.begin(), temp.end());
    if (base.back() != '\\') base.push_back('\\');
    static int counter = 0;
    root_ = base + "quill-win-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++counter);
    Folder("");
  }
  ~Scratch() {
    std::error_code ignored;
    std::filesystem::remove_all(std::filesystem::path(Wide(LongPathForm(root_))), ignored);
  }
  Scratch(const Scratch&) = delete;
  Scratch& operator=(const Scratch&) = delete;

  const std::string& root() const { return root_; }
  std::string Path(const std::string& relative) const {
    return relative.empty() ? root_ : root_ + "\\" + relative;
  }

  // Creates the folder and its parents; returns its full path.
  std::string Folder(const std::string& relative) const {
    const std::string full = Path(relative);
    for (std::size_t pos = root_.size(); pos != std::string::npos;) {
      pos = full.find('\\', pos + 1);
      CreateDirectoryW(Wide(LongPathForm(full.substr(0, pos))).c_str(), nullptr);
    }
    return full;
  }

  std::string File(const std::string& relative, const std::string& content = "x") const {
    const std::string full = Path(relative);
    Folder(relative.substr(
        0, relative.find_last_of('\\') == std::string::npos ? 0 : relative.find_last_of('\\')));
    const HANDLE file = CreateFileW(Wide(LongPathForm(full)).c_str(), GENERIC_WRITE, 0, nullptr,
                                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_NE(file, INVALID_HANDLE_VALUE) << full;
    DWORD written = 0;
    WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
    CloseHandle(file);
    return full;
  }

 private:
  std::string root_;
};

std::set<std::string> AllNames(const std::string& spec) {
  std::set<std::string> names;
  FindEntry entry;
  if (FindFirst(spec, entry) == kInvalidHandle) return names;
  do {
    names.insert(entry.Name);
  } while (FindNext(entry));
  return names;
}

TEST(Win32BackendTest, CapabilitiesChooseTheWidePathCalls) {
  GetAttributes("C:\\");
  EXPECT_TRUE(TheApiCaps().Initialized);
  EXPECT_TRUE(TheApiCaps().IsNT);
  EXPECT_TRUE(TheApiCaps().HasGetVersionExW);
}

TEST(Win32BackendTest, AttributesOfFoldersFilesHiddenAndMissingPaths) {
  Scratch t;
  const std::string folder = t.Folder("Inbox");
  const std::string file = t.File("Inbox\\a.eml");
  const std::string hidden = t.File("secret.eml");
  ASSERT_TRUE(SetFileAttributesW(Wide(hidden).c_str(), FILE_ATTRIBUTE_HIDDEN));
  EXPECT_NE(GetAttributes(folder) & kAttrDirectory, 0u);
  EXPECT_EQ(GetAttributes(file) & kAttrDirectory, 0u);
  EXPECT_NE(GetAttributes(file), kInvalidAttributes);
  EXPECT_NE(GetAttributes(hidden) & kAttrHidden, 0u);
  EXPECT_EQ(GetAttributes(t.Path("missing")), kInvalidAttributes);
  EXPECT_EQ(GetAttributes(""), kInvalidAttributes);
  // Slashes are separators as anywhere on Windows, though the long form alone would refuse them.
  std::string slashed = file;
  std::replace(slashed.begin(), slashed.end(), '\\', '/');
  EXPECT_EQ(GetAttributes(slashed), GetAttributes(file));
  // A path already in long form is used as it is, not prefixed a second time.
  EXPECT_NE(GetAttributes(LongPathForm(folder)) & kAttrDirectory, 0u);
}

TEST(Win32BackendTest, NamesTravelAsUtf8BothWays) {
  Scratch t;
  const std::string cafe = "caf\xC3\xA9.eml";                                       // café.eml
  const std::string cyrillic = "\xD0\x9F\xD0\xB8\xD1\x81\xD1\x8C\xD0\xBC\xD0\xBE";  // Письмо
  t.File(cafe);
  t.Folder(cyrillic);
  EXPECT_EQ(AllNames(t.root() + "\\*.eml"), (std::set<std::string>{cafe}));
  EXPECT_EQ(AllNames(t.root() + "\\\xD0\x9F*"), (std::set<std::string>{cyrillic}));
  EXPECT_TRUE(FileExists(t.Path(cafe)));
  EXPECT_TRUE(FolderExists(t.Path(cyrillic)));
  // The same name created through the wide call is the one the UTF-8 query finds.
  ASSERT_NE(GetFileAttributesW((Wide(t.root()) + L"\\caf\u00E9.eml").c_str()), INVALID_FILE_ATTRIBUTES);
  // Bytes that are not UTF-8 name no Windows file.
  EXPECT_EQ(GetAttributes(t.Path("caf\xE9.eml")), kInvalidAttributes);
}

TEST(Win32BackendTest, SearchMatchesPatternsItselfWithWindowsRules) {
  Scratch t;
  t.File("README");
  t.File("a.eml");
  t.File("B.EMLX");
  t.Folder("Sub");
  EXPECT_EQ(AllNames(t.root() + "\\*.*"),
            (std::set<std::string>{".", "..", "README", "a.eml", "B.EMLX", "Sub"}));
  EXPECT_EQ(AllNames(t.root() + "\\*"), AllNames(t.root() + "\\*.*"));
  // No match through a short 8.3 name: "B.EMLX" is not an ".eml" file.
  EXPECT_EQ(AllNames(t.root() + "\\*.eml"), (std::set<std::string>{"a.eml"}));
  EXPECT_EQ(AllNames(t.root() + "\\*.EML*"), (std::set<std::string>{"a.eml", "B.EMLX"}));
  EXPECT_EQ(AllNames(t.root() + "\\?.eml"), (std::set<std::string>{"a.eml"}));
  EXPECT_EQ(AllNames(t.root() + "/README.*"), (std::set<std::string>{"README"}));
  EXPECT_TRUE(AllNames(t.root() + "\\nothing*").empty());

  FindEntry entry;
  ASSERT_NE(FindFirst(t.root() + "\\Sub", entry), kInvalidHandle);
  EXPECT_NE(entry.Attributes & kAttrDirectory, 0u);
  FindEnd(entry);
  FindEnd(entry);  // ending an ended search does nothing
  EXPECT_FALSE(FindNext(entry));
}

TEST(Win32BackendTest, FailedSearchesTellNothingFoundFromUnreadable) {
  Scratch t;
  const std::string file = t.File("one");
  t.Folder("Empty");
  FindEntry entry;
  EXPECT_EQ(FindFirst("FTP://host/*.*", entry), kInvalidHandle);
  EXPECT_EQ(FindFirst(t.root() + "\\", entry), kInvalidHandle);  // no pattern
  EXPECT_EQ(FindFirst(t.Path("Empty") + "\\*.eml", entry), kInvalidHandle);
  EXPECT_EQ(entry.Error, 0);
  EXPECT_EQ(FindFirst(t.Path("missing") + "\\*", entry), kInvalidHandle);
  EXPECT_EQ(entry.Error, ENOENT);
  EXPECT_EQ(FindFirst(file + "\\*", entry), kInvalidHandle);
  EXPECT_NE(entry.Error, 0);
}

TEST(Win32BackendTest, FolderAndFileExistAnswerAsOnLinux) {
  Scratch t;
  const std::string folder = t.Folder("Mail");
  const std::string file = t.File("Mail\\a.eml");
  t.Folder("Mail\\b.eml.d");
  EXPECT_TRUE(FolderExists(folder));
  EXPECT_TRUE(FolderExists(folder + "\\"));
  EXPECT_TRUE(FolderExists("C:\\"));
  EXPECT_FALSE(FolderExists(file));
  EXPECT_FALSE(FolderExists(t.Path("missing")));
  // The long form keeps a trailing space, so the untrimmed query fails and the trimmed search finds it.
  EXPECT_EQ(GetAttributes(folder + " "), kInvalidAttributes);
  EXPECT_TRUE(FolderExists(folder + " "));
  EXPECT_TRUE(FileExists(file));
  EXPECT_FALSE(FileExists(folder));
  EXPECT_TRUE(FileExists(t.Path("Mail\\*.eml")));
  EXPECT_FALSE(FileExists(t.Path("Mail\\*.d")));
}

TEST(Win32BackendTest, PathsPastTheOldLimitAreQueriedSearchedAndIdentified) {
  Scratch t;
  const std::string part(120, 'd');
  std::string relative;
  for (int i = 0; i < 6; ++i) relative += (i ? "\\" : "") + part;
  const std::string deep = t.Folder(relative);
  t.File(relative + "\\deep.eml");
  ASSERT_GT(deep.size(), 700u);
  EXPECT_TRUE(FolderExists(deep));
  EXPECT_TRUE(FileExists(deep + "\\deep.eml"));
  EXPECT_FALSE(FileExists(deep + "\\other.eml"));
  EXPECT_EQ(AllNames(deep + "\\*.eml"), (std::set<std::string>{"deep.eml"}));
  FileId a, b, c;
  EXPECT_TRUE(GetFileId(deep, a));
  EXPECT_TRUE(GetFileId(deep + "\\", b));
  EXPECT_TRUE(GetFileId(t.root(), c));
  EXPECT_EQ(a, b);
  EXPECT_NE(a, c);
  EXPECT_FALSE(GetFileId(t.Path("missing"), a));
}

TEST(Win32BackendTest, AbsoluteFolderResolvesDotsAsTextAndKeepsTheRoot) {
  EXPECT_EQ(AbsoluteFolder("C:\\Mail\\.\\Old\\..\\New\\\\"), "C:\\Mail\\New");
  EXPECT_EQ(AbsoluteFolder("C:/Mail/New/"), "C:\\Mail\\New");
  EXPECT_EQ(AbsoluteFolder("C:\\"), "C:\\");
  EXPECT_EQ(AbsoluteFolder("C:\\caf\xC3\xA9"), "C:\\caf\xC3\xA9");
  Scratch t;
  ASSERT_TRUE(SetCurrentDirectoryW(Wide(t.root()).c_str()));
  t.Folder("Sub");
  EXPECT_EQ(AbsoluteFolder("Sub\\"), t.Path("Sub"));
  EXPECT_EQ(AbsoluteFolder("."), t.root());
  SetCurrentDirectoryW(L"C:\\");
}

TEST(Win32BackendTest, CollectorWalksATreeThroughTheBackend) {
  Scratch t;
  const std::string deepPart(150, 'x');
  t.File("R\\r1.eml");
  t.File("R\\A\\a1.eml");
  t.File("R\\A\\" + deepPart + "\\" + deepPart + "\\far.eml");
  t.File("R\\caf\xC3\xA9\\b1.eml");
  t.File("R\\notes.txt");
  KeyedList files;
  KeyedList folders;
  std::int32_t fileCounter = 1;
  std::int32_t folderCounter = 0;
  std::string root = t.Path("R");
  ASSERT_TRUE(CollectFiles(root, "*.eml", fileCounter, folderCounter, files, folders, CollectorHooks()).ok());
  EXPECT_EQ(root, t.Path("R") + "\\");
  std::vector<std::string> found = files.Items();
  std::sort(found.begin(), found.end());
  std::vector<std::string> expected = {root + "r1.eml", root + "A\\a1.eml",
                                       root + "A\\" + deepPart + "\\" + deepPart + "\\far.eml",
                                       root + "caf\xC3\xA9\\b1.eml"};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(found, expected);
  EXPECT_EQ(folders.Count(), 4u);
  EXPECT_EQ(files.Item(0), root + "r1.eml");  // a folder's files before its subfolders'
}

}  // namespace
}  // namespace fs
