#include "engine/message_names.h"

#include <gtest/gtest.h>

namespace engine {
namespace {

TEST(MessageNamesTest, PathPartsAroundTheLastSeparator) {
  EXPECT_EQ(LastPathPart("C:\\Mail\\Inbox\\a.eml", '\\'), "a.eml");
  EXPECT_EQ(ParentWithSlash("C:\\Mail\\Inbox\\a.eml", '\\'), "C:\\Mail\\Inbox\\");
  EXPECT_EQ(LastPathPart("a.eml", '\\'), "a.eml");
  EXPECT_EQ(ParentWithSlash("a.eml", '\\'), "");
  EXPECT_EQ(LastPathPart("C:\\Mail\\", '\\'), "");
  EXPECT_EQ(ParentWithSlash("C:\\Mail\\", '\\'), "C:\\Mail\\");
  EXPECT_EQ(LastPathPart("/home/u/Mail/Inbox/a.eml"), "a.eml");
  EXPECT_EQ(ParentWithSlash("/home/u/Mail/Inbox/a.eml"), "/home/u/Mail/Inbox/");
}

TEST(MessageNamesTest, MessageFilesByNameInAnyCase) {
  for (const char* yes : {"/m/a.EML", "/m/b.Emlx", "/m/EML~1", "/m/x.eml", ".eml", "/m/eml~1"}) {
    EXPECT_TRUE(IsMessageFileName(yes)) << yes;
  }
  for (const char* no :
       {"/m/c.eml.bak", "/m/d.msg", "/m/e.txt", "/m/eml", "/m/README", "/m/x.eml/", "/m/aeml~1"}) {
    EXPECT_FALSE(IsMessageFileName(no)) << no;
  }
}

}  // namespace
}  // namespace engine
