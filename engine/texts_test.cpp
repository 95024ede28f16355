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
  for (const char* f : {"/m/a.eml", "/m/b.eml", "/m/c.eml", "/m/d.eml", "/m/e.eml"})
    r.failedFiles.push_back({f, "x"});
  EXPECT_EQ(CompletionText(r),
            "10 messages converted.\r\n5 files could not be converted: a.eml, b.eml, c.eml and 2 more.\r\n"
            "Open Converted Outlook Data file in Microsoft Outlook to View Converted Messages.");
}

TEST(TextsTest, CompletionTextNamesRenamedFilesAlsoOnACleanRun) {
  RunReport r;
  r.singleMode = false;
  r.foldersConverted = 2;
  r.messagesConverted = 5;
  r.written = {{"mailparser", "/out/mailparser (2).pst", true},
               {"ann", "/out/ann.pst", false},
               {"ruby", "/out/ruby (2).pst", true}};
  EXPECT_EQ(
      CompletionText(r),
      "All Folders Converted Successfully.\r\nOpen Converted Outlook Data file(s) in Microsoft Outlook to "
      "View "
      "Individual files.\r\n\"/out/mailparser (2).pst\" was written, since a file of the planned name "
      "already "
      "existed.\r\n\"/out/ruby (2).pst\" was written, since a file of the planned name already existed.");
  // Nothing renamed: the two fixed lines alone.
  r.written[0].renamed = r.written[2].renamed = false;
  EXPECT_EQ(CompletionText(r),
            "All Folders Converted Successfully.\r\nOpen Converted Outlook Data file(s) in Microsoft Outlook "
            "to View "
            "Individual files.");
}

TEST(TextsTest, CompletionTextNamesTheReportWhenOneWasWritten) {
  RunReport r;
  r.messagesConverted = 3;
  r.foldersConverted = 1;
  r.failedFiles.push_back({"/m/bad.eml", "no header"});
  r.reportFile = "/out/Mail.pst.report.tsv";
  EXPECT_EQ(CompletionText(r),
            "3 messages converted.\r\n1 file could not be converted: bad.eml.\r\n"
            "A report of every file not converted, and why, is in \"/out/Mail.pst.report.tsv\".\r\n"
            "Open Converted Outlook Data file in Microsoft Outlook to View Converted Messages.");
}

TEST(TextsTest, FoldersWithoutMailAreNeverCalledConverted) {
  RunReport single;
  single.foldersWithoutMail = {"/home/u/Empty"};
  EXPECT_EQ(CompletionText(single), "No .eml or .emlx files were found in /home/u/Empty.");

  RunReport multiple;
  multiple.singleMode = false;
  multiple.foldersConverted = 1;
  multiple.messagesConverted = 2;
  multiple.foldersWithoutMail = {"/r/bob", "/r/cid"};
  EXPECT_EQ(CompletionText(multiple),
            "2 messages converted into 1 data file.\r\nNo .eml or .emlx files were found in /r/bob.\r\n"
            "No .eml or .emlx files were found in /r/cid.\r\n"
            "Open Converted Outlook Data file(s) in Microsoft Outlook to View Individual files.");
  multiple.foldersConverted = multiple.messagesConverted = 0;
  EXPECT_EQ(CompletionText(multiple).rfind("0 messages converted into 0 data files.\r\n", 0), 0u);
  EXPECT_EQ(CompletionText(multiple).find("Successfully"), std::string::npos);
}

TEST(TextsTest, CompletionTextTellsWhatIsNotInAnyFile) {
  RunReport r;
  r.singleMode = false;
  r.messagesConverted = 4;
  r.foldersConverted = 1;
  r.messagesEmpty = 1;
  r.unreadableFolders = {{"/m/ann/Locked", "Permission denied"}};
  r.failedStores = {{"bob", "/o/bob.pst", "No space left on device", 7}};
  r.leftOut = {{"cid", "/m/cid", 3}, {"dan", "/m/dan", -1}};
  r.stopped = true;
  const std::string text = CompletionText(r);
  for (const char* expected :
       {"Conversion stopped by the user.", "\"cid\": 3 message files were left out.",
        "\"dan\" was not begun.", "1 file was empty (0 bytes) and not converted.",
        "The folder \"/m/ann/Locked\" could not be read (Permission denied); its files were not converted.",
        "7 messages of it could not be saved.", "4 messages converted into 1 data file."}) {
    EXPECT_NE(text.find(expected), std::string::npos) << expected << "\n" << text;
  }
  EXPECT_EQ(text.find("Successfully"), std::string::npos);

  // A clean run with a folded folder keeps its success line and still tells the note.
  RunReport folded;
  folded.messagesConverted = 2;
  folded.foldersConverted = 1;
  folded.notes = {"The folder \"a\\b\" lies deeper than 60 levels."};
  EXPECT_NE(CompletionText(folded).find("Successfully.\r\n"), std::string::npos);
  EXPECT_NE(CompletionText(folded).find("lies deeper than 60 levels"), std::string::npos);
}

TEST(TextsTest, StoreErrorLeadsWithTheCauseAndWhatToDo) {
  EXPECT_EQ(
      OutlookErrorText("/home/u/ro/Mail.pst", "Permission denied: /home/u/ro/.Mail.pst.tmp"),
      "The data file could not be created in /home/u/ro: Permission denied. Choose a folder you can write "
      "to.\r\n\r\nData file: Mail.pst");
  EXPECT_EQ(OutlookErrorText("/gone/x.pst", "No such file or directory: /gone/x.pst")
                .rfind("The data file could not be created in /gone: No such file or directory. Choose a "
                       "folder that exists.",
                       0),
            0u);
  EXPECT_EQ(OutlookErrorText("/f/x.pst", "write failed (No space left on device): /f/.x")
                .rfind("The data file could not be created in /f: write failed (No space left on device). "
                       "Free some space",
                       0),
            0u);
  // Nothing of the old advice about installing Outlook, and no bare address to copy.
  const std::string text = OutlookErrorText("/a/b.pst", "some other failure");
  EXPECT_EQ(text.find("Outlook"), std::string::npos);
  EXPECT_EQ(text.find("http"), std::string::npos);
  EXPECT_NE(text.find(": some other failure. Choose another folder"), std::string::npos);
}

}  // namespace
}  // namespace engine
