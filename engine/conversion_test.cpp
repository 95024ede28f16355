#include "engine/conversion.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "engine/fake_store_test.h"
#include "engine/recording_host_test.h"
#include "fs/temp_tree_test.h"

namespace engine {
namespace {

using testing::FakeStoreService;
using testing::RecordingHost;
using testing::ShownBox;

// One engine with its world: a source tree, the host, the fake store service.
struct Rig {
  fs::testing::TempTree tree;
  SharedState shared;
  RecordingHost host;
  FakeStoreService service;
  Conversion conversion{shared, host, service};

  Rig() {
    host.saveFolder = tree.Folder("out");
    host.outputFolder = tree.Path("out");
  }
  std::string Source(const std::string& rel) { return tree.Path("src/" + rel); }
  void Message(const std::string& rel) { tree.File("src/" + rel, "Subject: x\n\nbody\n"); }
  void RunSingle(const std::string& sourceRel) {
    host.single = true;
    host.source = tree.Path(sourceRel);
    ASSERT_TRUE(conversion.StartConversion_Click());
  }
  const testing::FakeStoreData& Store(std::size_t i = 0) { return *service.stores.at(i); }
  std::vector<std::string> MessagesIn(const std::string& folder, std::size_t store = 0) {
    const testing::FakeFolder* f = FakeStoreService::Find(Store(store), folder);
    std::vector<std::string> names;
    if (f == nullptr) return {"<no folder " + folder + ">"};
    for (const std::string& m : f->messages) names.push_back(m.substr(m.find_last_of('/') + 1));
    std::sort(names.begin(), names.end());
    return names;
  }
  const ShownBox& LastBox() { return host.boxes.back(); }
};

using Names = std::vector<std::string>;

TEST(ConversionTest, ProposedNameAndDisplayNameCarryTheStamp) {
  Rig rig;
  rig.Message("Inbox/a.eml");
  rig.RunSingle("src/Inbox");
  ASSERT_EQ(rig.host.proposedNames, Names{"Inbox7.12.26 1.34.05.pst"});
  EXPECT_EQ(rig.Store().path, rig.tree.Path("out/Inbox7.12.26 1.34.05.pst"));
  EXPECT_EQ(rig.Store().displayName, "Inbox : Created - 7.12.26 1.34.05");
  EXPECT_EQ(rig.shared.TargetPstPath, rig.Store().path);
  EXPECT_EQ(rig.host.captions, Names{"Conversion Status"});
  EXPECT_EQ(rig.host.progress.lblCount1, "Migrating 1 items from " + rig.tree.Path("src/Inbox/"));
}

TEST(ConversionTest, FoldersAreRecreatedAndInboxAndSentMapped) {
  Rig rig;
  rig.Message("root.eml");
  rig.Message("Inbox/i.eml");
  rig.Message("Inbox/Sub/s.eml");
  rig.Message("Sent/t.eml");
  rig.Message("Work/w.eml");
  rig.Message("Work/2019/y.eml");
  rig.tree.Folder("src/Empty");
  rig.RunSingle("src");
  std::vector<std::string> folders = FakeStoreService::FolderPaths(rig.Store());
  std::sort(folders.begin(), folders.end());
  // The root has no trailing separator: "\Sent" is a special name below the top and is not
  // created by the mapping; its message creates it when it is imported.
  EXPECT_EQ(folders, (Names{"Deleted Items", "Empty", "Inbox", "Inbox/Sub", "Outbox", "Sent", "Sent Items", "Work",
                            "Work/2019"}));
  EXPECT_EQ(rig.MessagesIn(""), Names{"root.eml"});
  EXPECT_EQ(rig.MessagesIn("Inbox"), Names{"i.eml"});
  EXPECT_EQ(rig.MessagesIn("Inbox/Sub"), Names{"s.eml"});
  EXPECT_EQ(rig.MessagesIn("Sent"), Names{"t.eml"});
  EXPECT_EQ(rig.MessagesIn("Work/2019"), Names{"y.eml"});
  EXPECT_EQ(rig.conversion.Report().messagesConverted, 6);
  EXPECT_EQ(rig.LastBox().title, "Completed");
  EXPECT_EQ(rig.LastBox().text,
            "Messages Converted Successfully.\r\nOpen Converted Outlook Data file in Microsoft Outlook to View "
            "Converted Messages.");
  EXPECT_TRUE(rig.Store().loggedOff);
  EXPECT_EQ(FakeStoreService::Find(rig.Store(), "Inbox")->flags.begin()->second, 17);
}

TEST(ConversionTest, RootWithTrailingSeparatorMapsSentOntoSentItems) {
  Rig rig;
  rig.Message("Inbox/i.eml");
  rig.Message("Sent/t.eml");
  rig.Message("Sent/2019/Q1/q.eml");
  rig.Message("Archive/a.eml");
  rig.RunSingle("src/");
  std::vector<std::string> folders = FakeStoreService::FolderPaths(rig.Store());
  std::sort(folders.begin(), folders.end());
  EXPECT_EQ(folders, (Names{"Archive", "Deleted Items", "Inbox", "Outbox", "Sent Items", "Sent Items/2019",
                            "Sent Items/2019/Q1"}));
  EXPECT_EQ(rig.MessagesIn("Sent Items"), Names{"t.eml"});
  EXPECT_EQ(rig.MessagesIn("Sent Items/2019/Q1"), Names{"q.eml"});
  EXPECT_EQ(rig.MessagesIn("Archive"), Names{"a.eml"});
  // A drive-root-like source ends in a separator: the folder name is empty.
  EXPECT_EQ(rig.host.proposedNames, Names{"7.12.26 1.34.05.pst"});
  EXPECT_EQ(rig.Store().displayName, " : Created - 7.12.26 1.34.05");
}

TEST(ConversionTest, MessagesOfFoldersTheMappingNeverCreatesAreNotLost) {
  Rig rig;
  rig.Message("Work/w.eml");
  rig.Message("Work/Tasks/t.eml");
  rig.Message("Work/Tasks/Sub/u.eml");
  rig.Message("Old!Stuff/o.eml");
  rig.Message("Work!Old/x.eml");
  rig.RunSingle("src");
  EXPECT_EQ(rig.MessagesIn("Work/Tasks"), Names{"t.eml"});
  EXPECT_EQ(rig.MessagesIn("Work/Tasks/Sub"), Names{"u.eml"});
  EXPECT_EQ(rig.MessagesIn("Old"), Names{"o.eml"});
  EXPECT_EQ(rig.MessagesIn("Work"), (Names{"w.eml", "x.eml"}));
  EXPECT_EQ(FakeStoreService::Find(rig.Store(), "Tasks"), nullptr);  // nothing stray at the top
  EXPECT_TRUE(rig.conversion.Report().failedFiles.empty());
  EXPECT_EQ(rig.conversion.Report().messagesConverted, 5);
}

// A session that reads ahead is told of every message file before it is imported, in the order
// of import, never of other files, and never more than it accepts.
TEST(ConversionTest, ReadAheadIsToldOfMessageFilesInImportOrder) {
  Rig rig;
  rig.service.readAheadWindow = 2;
  rig.Message("a.eml");
  rig.tree.File("src/b.txt", "not mail");
  rig.Message("c.eml");
  rig.Message("d.emlx");
  rig.RunSingle("src");
  // The folder's own order decides the import order; what matters is how offers follow it.
  Names offers, imports;
  std::size_t most = 0;
  for (const std::string& e : rig.service.readAheadLog) {
    (e.starts_with("offer ") ? offers : imports).push_back(e.substr(e.find(' ') + 1));
    EXPECT_LE(imports.size(), offers.size()) << "imported before it was offered: " << e;
    most = std::max(most, offers.size() - imports.size());
  }
  EXPECT_EQ(offers, imports);
  EXPECT_EQ(imports.size(), 3u);
  EXPECT_EQ(std::count(offers.begin(), offers.end(), "b.txt"), 0);
  EXPECT_EQ(most, 2u);  // The window was used, and not exceeded.
}

TEST(ConversionTest, PercentagesAndFrameCaptionsFollowEveryFile) {
  Rig rig;
  for (int i = 1; i <= 8; ++i) rig.Message("m" + std::to_string(i) + ".eml");
  rig.RunSingle("src");
  EXPECT_EQ(rig.host.percentages, (Names{"12% Complete", "25% Complete", "38% Complete", "50% Complete",
                                         "62% Complete", "75% Complete", "88% Complete", "100% Complete"}));
  EXPECT_EQ(rig.host.frames.front(), "Reading Messages && Email Metadata - (1 of 8) File(s)");
  EXPECT_EQ(rig.host.frames.back(), "Reading Messages && Email Metadata - (8 of 8) File(s)");
  EXPECT_EQ(rig.host.frames.size(), 8u);
  EXPECT_FLOAT_EQ(rig.host.progress.ProgressBar1Value, 100.0f);

  // A file that is not a message is never imported, but counted like one.
  Rig three;
  three.Message("m1.eml");
  three.Message("m2.eml");
  three.tree.File("src/notes.txt");
  three.RunSingle("src");
  EXPECT_EQ(three.host.progress.FrameConversion, "Reading Messages && Email Metadata - (3 of 3) File(s)");
  EXPECT_EQ(three.host.percentages.back(), "100% Complete");
  EXPECT_EQ(three.conversion.Report().messagesConverted, 2);
  EXPECT_TRUE(three.conversion.Report().failedFiles.empty());

  Rig thirds;
  for (int i = 1; i <= 3; ++i) thirds.Message("m" + std::to_string(i) + ".eml");
  thirds.RunSingle("src");
  EXPECT_EQ(thirds.host.percentages, (Names{"33% Complete", "67% Complete", "100% Complete"}));
}

TEST(ConversionTest, SkipAndStopAskAndActOnTheAnswer) {
  // Skip confirmed during the first file: that file stands, nothing more is imported.
  Rig skip;
  for (int i = 1; i <= 4; ++i) skip.Message("m" + std::to_string(i) + ".eml");
  skip.host.onYield = [&](int) { skip.shared.SkipRequested = true; };
  skip.host.answers = {MsgBoxResult::kYes};
  skip.RunSingle("src");
  EXPECT_EQ(skip.host.boxes.front().title, "Confirm Skip");
  EXPECT_EQ(skip.host.boxes.front().text, "Do you really want to \"Skip\" conversion of this folder ?");
  EXPECT_EQ(skip.host.progress.lblProgress, "Skipped... at 25% Complete");
  EXPECT_EQ(skip.host.progress.lblCount1, "Checking Next Folder...");
  EXPECT_EQ(skip.conversion.Report().messagesConverted, 1);
  EXPECT_TRUE(skip.Store().loggedOff);
  EXPECT_NE(skip.LastBox().text.find("1 folder was skipped."), std::string::npos);

  // Skip declined: asked again at the next press, and the run completes.
  Rig decline;
  for (int i = 1; i <= 3; ++i) decline.Message("m" + std::to_string(i) + ".eml");
  decline.host.onYield = [&](int) { decline.shared.SkipRequested = true; };
  decline.RunSingle("src");
  EXPECT_EQ(decline.conversion.Report().messagesConverted, 3);
  EXPECT_EQ(std::count_if(decline.host.boxes.begin(), decline.host.boxes.end(),
                          [](const ShownBox& b) { return b.title == "Confirm Skip"; }),
            3);

  // Stop confirmed: the page closes, the file is still completed, the end says so.
  Rig stop;
  for (int i = 1; i <= 4; ++i) stop.Message("m" + std::to_string(i) + ".eml");
  stop.host.onYield = [&](int) {
    if (stop.host.progress.lblProgress == "50% Complete") stop.shared.StopRequested = true;
  };
  stop.host.answers = {MsgBoxResult::kYes};
  stop.RunSingle("src");
  EXPECT_EQ(stop.host.boxes.front().title, "Confirm Stop");
  EXPECT_EQ(stop.host.boxes.front().text,
            "This action will STOP complete conversion process.\r\nDo you really want to \"STOP\" on-going conversion ?");
  EXPECT_EQ(stop.host.progress.lblProgress, "Stopped... at 75% Complete");
  EXPECT_EQ(stop.host.progress.lblCount1, "Stopped...");
  EXPECT_EQ(stop.conversion.Report().messagesConverted, 3);
  EXPECT_TRUE(stop.Store().loggedOff);
  EXPECT_EQ(stop.host.unloads, 2);  // once by the loop, once by the end of the run
  EXPECT_NE(stop.LastBox().text.find("Conversion stopped by the user."), std::string::npos);
  EXPECT_FALSE(stop.host.progress.CmdStopMigration.Visible);
  EXPECT_FALSE(stop.host.progress.CmdSkip.Enabled);

  // Both flags before the same check, skip confirmed: no stop question, and the run ends.
  Rig both;
  both.Message("a.eml");
  both.Message("b.eml");
  both.host.onYield = [&](int) {
    if (both.host.progress.LblCurrentDBX.rfind("Converting Messages", 0) != 0) return;
    both.shared.SkipRequested = true;
    both.shared.StopRequested = true;
  };
  both.host.answers = {MsgBoxResult::kYes};
  both.RunSingle("src");
  EXPECT_EQ(both.host.boxes.size(), 2u);
  EXPECT_EQ(both.host.boxes[0].title, "Confirm Skip");
  EXPECT_TRUE(both.conversion.Report().stopped);
}

TEST(ConversionTest, FilesThatCannotBeImportedAreCountedNotSavedEmpty) {
  Rig rig;
  rig.Message("good.eml");
  rig.Message("bad1.eml");
  rig.Message("bad2.eml");
  rig.service.failImportOf = {"bad1.eml", "bad2.eml"};
  rig.RunSingle("src");
  EXPECT_EQ(rig.MessagesIn(""), Names{"good.eml"});
  const RunReport& report = rig.conversion.Report();
  EXPECT_EQ(report.messagesConverted, 1);
  ASSERT_EQ(report.failedFiles.size(), 2u);
  const std::string& text = rig.LastBox().text;
  EXPECT_EQ(text.find("Successfully"), std::string::npos);
  EXPECT_NE(text.find("1 message converted."), std::string::npos);
  EXPECT_NE(text.find("2 files could not be converted: "), std::string::npos);
  EXPECT_NE(text.find("bad1.eml"), std::string::npos);
}

TEST(ConversionTest, StoreThatCannotBeOpenedShowsTheCauseAndLeavesNothingOpen) {
  Rig rig;
  rig.Message("a.eml");
  rig.host.single = false;
  rig.host.rows = {{true, "src", rig.tree.Path("src")}};
  rig.service.failLogonFor = {rig.tree.Path("out/src.pst")};
  ASSERT_TRUE(rig.conversion.StartConversion_Click());
  ASSERT_EQ(rig.host.boxes.size(), 2u);
  EXPECT_EQ(rig.host.boxes[0].title, "Outlook Error");
  const std::string& text = rig.host.boxes[0].text;
  // What went wrong and what to do come first; no advice about installing Outlook.
  EXPECT_EQ(text.rfind("The data file could not be created in " + rig.tree.Path("out") + ": ", 0), 0u) << text;
  EXPECT_NE(text.find("Permission denied. Choose a folder you can write to."), std::string::npos) << text;
  EXPECT_EQ(text.find("Outlook"), std::string::npos);
  EXPECT_EQ(rig.host.rowStates[1], RowState::kFailed);
  EXPECT_EQ(rig.service.sessionsReleasedWithoutLogoff, 0);  // the logon itself failed: nothing open
  EXPECT_TRUE(rig.conversion.SourceRoot.empty());
  EXPECT_NE(rig.LastBox().text.find("could not be written"), std::string::npos);
}

TEST(ConversionTest, CancelledSaveDialogClosesThePageAndConvertsNothing) {
  Rig rig;
  rig.Message("a.eml");
  rig.host.cancelSave = true;
  rig.RunSingle("src");
  EXPECT_TRUE(rig.service.stores.empty());
  EXPECT_EQ(rig.host.unloads, 1);
  // Nothing was converted, and the user knows why: no completion box claims otherwise.
  EXPECT_TRUE(rig.host.boxes.empty());
  EXPECT_TRUE(rig.conversion.Report().saveCancelled);
  EXPECT_TRUE(rig.host.progress.CmdLocate.Enabled);  // untouched: still as the window started
}

TEST(ConversionTest, MultipleModeTitlesRowsAndExistingTargets) {
  Rig rig;
  rig.Message("../users/ann/Inbox/a.eml");
  rig.Message("../users/bob/b.eml");
  rig.tree.Folder("users/cid");
  rig.tree.File("out/bob.pst", "an older data file");
  rig.host.single = false;
  rig.host.rows = {{true, "ann", rig.tree.Path("users/ann")},
                   {false, "skipme", rig.tree.Path("users/skipme")},
                   {true, "bob", rig.tree.Path("users/bob")},
                   {true, "cid", rig.tree.Path("users/cid")}};
  ASSERT_TRUE(rig.conversion.StartConversion_Click());
  EXPECT_EQ(rig.host.marked, (std::vector<std::int32_t>{1, 3, 4}));
  EXPECT_EQ(rig.host.captions, (Names{"Converting 1 of 4 Folders", "Converting 3 of 4 Folders"}));
  ASSERT_EQ(rig.service.stores.size(), 2u);
  EXPECT_EQ(rig.Store(0).path, rig.tree.Path("out/ann.pst"));
  EXPECT_EQ(rig.Store(1).path, rig.tree.Path("out/bob (2).pst"));
  EXPECT_EQ(rig.Store(1).displayName, "bob : Created - 7.12.26 1.34.05");
  EXPECT_EQ(rig.host.progress.lblCount1, "Converting 0 items from " + rig.tree.Path("users/cid"));
  // Only the folders whose files were written are shown as converted.
  EXPECT_EQ(rig.host.rowStates, (std::map<std::int32_t, RowState>{
                                    {1, RowState::kConverted}, {3, RowState::kConverted}, {4, RowState::kNoMail}}));
  // The box names the folder without mail and the file written under another name.
  const std::string& text = rig.LastBox().text;
  EXPECT_EQ(text.find("Successfully"), std::string::npos);
  EXPECT_NE(text.find("No .eml or .emlx files were found in " + rig.tree.Path("users/cid") + "."), std::string::npos);
  EXPECT_NE(text.find("\"" + rig.tree.Path("out/bob (2).pst") + "\" was written"), std::string::npos);
  const RunReport& report = rig.conversion.Report();
  EXPECT_EQ(report.foldersConverted, 2);
  ASSERT_EQ(report.written.size(), 2u);
  EXPECT_TRUE(report.written[1].renamed);
  EXPECT_EQ(report.written[1].target, rig.tree.Path("out/bob (2).pst"));
}

TEST(ConversionTest, MultipleModeCleanRunAndStopBetweenFolders) {
  Rig rig;
  rig.Message("../users/ann/a.eml");
  rig.Message("../users/bob/b.eml");
  rig.host.single = false;
  rig.host.rows = {{true, "ann", rig.tree.Path("users/ann")}, {true, "bob", rig.tree.Path("users/bob")}};
  ASSERT_TRUE(rig.conversion.StartConversion_Click());
  EXPECT_EQ(rig.LastBox().text,
            "All Folders Converted Successfully.\r\nOpen Converted Outlook Data file(s) in Microsoft Outlook to View "
            "Individual files.");

  Rig stop;
  stop.Message("../users/ann/a.eml");
  stop.Message("../users/bob/b.eml");
  stop.host.single = false;
  stop.host.rows = {{true, "ann", stop.tree.Path("users/ann")}, {true, "bob", stop.tree.Path("users/bob")}};
  stop.host.onYield = [&](int) {
    if (!stop.service.stores.empty()) stop.shared.StopRequested = true;
  };
  stop.host.answers = {MsgBoxResult::kYes};
  ASSERT_TRUE(stop.conversion.StartConversion_Click());
  EXPECT_EQ(stop.service.stores.size(), 1u);
  EXPECT_EQ(stop.host.marked, std::vector<std::int32_t>{1});
  EXPECT_TRUE(stop.Store(0).loggedOff);
}

TEST(ConversionTest, OneRunAtATimeAndAClosedWindowStopsWithoutAsking) {
  Rig rig;
  for (int i = 1; i <= 3; ++i) rig.Message("m" + std::to_string(i) + ".eml");
  bool secondRefused = false;
  rig.host.onYield = [&](int n) {
    if (n == 5) secondRefused = !rig.conversion.StartConversion_Click();
    if (rig.host.progress.lblProgress == "33% Complete") {
      rig.shared.StopRequested = true;
      rig.shared.StopConfirmed = true;  // the window was closed and the user said yes
    }
  };
  rig.RunSingle("src");
  EXPECT_TRUE(secondRefused);
  EXPECT_EQ(rig.conversion.Report().messagesConverted, 2);
  EXPECT_TRUE(std::none_of(rig.host.boxes.begin(), rig.host.boxes.end(),
                           [](const ShownBox& b) { return b.title == "Confirm Stop"; }));
  EXPECT_TRUE(rig.Store().loggedOff);
  EXPECT_FALSE(rig.shared.RunActive);
}

TEST(ConversionTest, EmptySourceNeverReachesTheStore) {
  Rig rig;
  rig.tree.Folder("src/Sub");
  rig.RunSingle("src");
  EXPECT_EQ(rig.service.sessionsCreated, 0);
  EXPECT_TRUE(rig.host.captions.empty());
  EXPECT_EQ(rig.host.progress.lblCount1, "Migrating 0 items from " + rig.tree.Path("src/"));
  EXPECT_EQ(rig.LastBox().text, "No .eml or .emlx files were found in " + rig.tree.Path("src") + ".");
}

TEST(ConversionTest, FolderOfOtherFilesWritesNoDataFile) {
  Rig rig;
  rig.tree.File("src/notes.txt");
  rig.tree.File("src/Sub/photo.jpg");
  rig.RunSingle("src");
  EXPECT_EQ(rig.service.sessionsCreated, 0);
  EXPECT_TRUE(rig.host.proposedNames.empty());  // not even a Save dialog
  EXPECT_EQ(rig.LastBox().text, "No .eml or .emlx files were found in " + rig.tree.Path("src") + ".");
  EXPECT_EQ(rig.host.unloads, 0);
}

// Stop pressed while the next folder's files are collected (after a confirmed skip, say): the
// question is asked before that folder's store is opened, and a yes ends the run there.
TEST(ConversionTest, StopDuringCollectionIsAskedAndHonoured) {
  for (const bool confirm : {true, false}) {
    Rig rig;
    rig.Message("../users/ann/a.eml");
    rig.Message("../users/bob/b.eml");
    rig.Message("../users/bob/c.eml");
    rig.host.single = false;
    rig.host.rows = {{true, "ann", rig.tree.Path("users/ann")}, {true, "bob", rig.tree.Path("users/bob")}};
    bool pressed = false;
    rig.host.onYield = [&](int) {
      // The driver has come to bob's row and is collecting its files.
      if (!pressed && rig.host.marked.size() == 2 && rig.service.stores.size() == 1) {
        rig.shared.StopRequested = true;
        pressed = true;
      }
    };
    rig.host.answers = {confirm ? MsgBoxResult::kYes : MsgBoxResult::kNo};
    ASSERT_TRUE(rig.conversion.StartConversion_Click());
    ASSERT_TRUE(pressed);
    ASSERT_GE(rig.host.boxes.size(), 2u);
    EXPECT_EQ(rig.host.boxes[0].title, "Confirm Stop");
    if (confirm) {
      EXPECT_EQ(rig.service.stores.size(), 1u) << "bob's data file was opened after a confirmed stop";
      EXPECT_EQ(rig.host.rowStates[2], RowState::kStopped);
      EXPECT_NE(rig.LastBox().text.find("Conversion stopped by the user."), std::string::npos);
    } else {
      EXPECT_EQ(rig.service.stores.size(), 2u);
      EXPECT_EQ(rig.host.rowStates[2], RowState::kConverted);
      EXPECT_EQ(rig.LastBox().text.rfind("All Folders Converted Successfully.", 0), 0u);
    }
    EXPECT_EQ(rig.host.rowStates[1], RowState::kConverted);
  }
}

TEST(ConversionTest, RowsShowWhatBecameOfTheirFolders) {
  Rig rig;
  rig.Message("../users/ann/a.eml");
  rig.Message("../users/bob/b.eml");
  rig.Message("../users/bob/c.eml");
  rig.host.single = false;
  rig.host.rows = {{true, "ann", rig.tree.Path("users/ann")}, {true, "bob", rig.tree.Path("users/bob")}};
  rig.service.failLogonFor = {rig.tree.Path("out/ann.pst")};
  rig.host.onYield = [&](int) {
    if (rig.host.progress.lblProgress == "50% Complete") rig.shared.SkipRequested = true;
  };
  rig.host.answers = {MsgBoxResult::kYes};
  ASSERT_TRUE(rig.conversion.StartConversion_Click());
  EXPECT_EQ(rig.host.rowStates[1], RowState::kFailed);
  EXPECT_EQ(rig.host.rowStates[2], RowState::kStopped);  // skipped halfway
}

}  // namespace
}  // namespace engine
