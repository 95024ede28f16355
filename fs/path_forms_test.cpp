#include "fs/path_forms.h"

#include <gtest/gtest.h>

namespace fs {
namespace {

TEST(PathFormsTest, LongPathFormPrefixesLocalAndNetworkPaths) {
  EXPECT_EQ(LongPathForm("C:\\Mail"), "\\\\?\\C:\\Mail");
  EXPECT_EQ(LongPathForm("\\\\srv\\share\\Mail"), "\\\\?\\UNC\\srv\\share\\Mail");
  // A path already in long form is taken for a network path: nothing checks for the prefix.
  EXPECT_EQ(LongPathForm("\\\\?\\C:\\x"), "\\\\?\\UNC\\?\\C:\\x");
  EXPECT_EQ(LongPathForm("relative/../x"), "\\\\?\\relative/../x");
}

TEST(PathFormsTest, WithBackslashTrimsSpacesOnlyAndEndsWithOneSeparator) {
  EXPECT_EQ(WithBackslash("  ", '\\'), "\\");
  EXPECT_EQ(WithBackslash("", '\\'), "\\");
  EXPECT_EQ(WithBackslash("C:\\Mail", '\\'), "C:\\Mail\\");
  EXPECT_EQ(WithBackslash("C:\\Mail\\", '\\'), "C:\\Mail\\");
  EXPECT_EQ(WithBackslash("  C:\\Mail  ", '\\'), "C:\\Mail\\");
  EXPECT_EQ(WithBackslash("\tC:\\Mail\t", '\\'), "\tC:\\Mail\t\\");
  EXPECT_EQ(WithBackslash(" /home/u/Mail ", '/'), "/home/u/Mail/");
  EXPECT_EQ(WithBackslash("/", '/'), "/");
  // Without a separator given, the platform's own ends the path.
  EXPECT_EQ(WithBackslash(" Mail "), std::string("Mail") + kPathSeparator);
}

TEST(PathFormsTest, CutAtNulChangesTheArgumentInPlace) {
  std::string name("inbox.eml\0garbage", 17);
  EXPECT_EQ(CutAtNul(name), "inbox.eml");
  EXPECT_EQ(name, "inbox.eml");
  std::string plain = "plain";
  EXPECT_EQ(CutAtNul(plain), "plain");
  std::string leading("\0x", 2);
  EXPECT_EQ(CutAtNul(leading), "");
}

}  // namespace
}  // namespace fs
