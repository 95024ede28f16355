#include "engine/texts.h"

#include <gtest/gtest.h>

namespace engine {
namespace {

TEST(TextsTest, FolderStampHasNoLeadingZerosButInTheSeconds) {
  std::tm t{};
  t.tm_year = 126;
  t.tm_mon = 11;
  t.tm_mday = 7;
  t.tm_hour = 1;
  t.tm_min = 34;
  t.tm_sec = 5;
  EXPECT_EQ(FormatFolderStamp(t), "7.12.26 1.34.05");
  t.tm_year = 100;
  t.tm_mon = 0;
  t.tm_mday = 31;
  t.tm_hour = 23;
  t.tm_min = 5;
  t.tm_sec = 0;
  EXPECT_EQ(FormatFolderStamp(t), "31.1.00 23.5.00");
}

TEST(TextsTest, RoundingGoesToTheEvenNeighbourOnTies) {
  EXPECT_EQ(RoundHalfEven(12.5), 12);
  EXPECT_EQ(RoundHalfEven(37.5), 38);
  EXPECT_EQ(RoundHalfEven(33.3333), 33);
  EXPECT_EQ(RoundHalfEven(66.6667), 67);
  EXPECT_EQ(RoundHalfEven(100.0), 100);
  EXPECT_EQ(RoundHalfEven(0.5), 0);
}

TEST(TextsTest, CompletionTextListsAFewFailedNamesThenCounts) {
  RunReport r;
  r.messagesConverted = 10;
  r.foldersConverted = 1;
  for (const char* f : {"/m/a.eml", "/m/b.eml", "/m/c.eml", "/m/d.eml", "/m/e.eml"}) r.failedFiles.push_back({f, "x"});
  EXPECT_EQ(CompletionText(r),
            "10 messages converted.\r\n5 files could not be converted: a.eml, b.eml, c.eml and 2 more.\r\n"
            "Open Converted Outlook Data file in Microsoft Outlook to View Converted Messages.");
}

}  // namespace
}  // namespace engine
