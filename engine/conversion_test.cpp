#include "engine/conversion.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>

#include "engine/fake_store_test.h"
#include "engine/recording_host_test.h"
#include "engine/report_file.h"
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
  // The root is written without a trailing separator; its own Sent still goes onto Sent Items.
  EXPECT_EQ(folders, (Names{"Deleted Items", "Empty", "Inbox", "Inbox/Sub", "Outbox", "Sent Items", "Work",
                            "Work/2019"}));
  EXPECT_EQ(rig.MessagesIn(""), Names{"root.eml"});
  EXPECT_EQ(rig.MessagesIn("Inbox"), Names{"i.eml"});
  EXPECT_EQ(rig.MessagesIn("Inbox/Sub"), Names{"s.eml"});
  EXPECT_EQ(rig.MessagesIn("Sent Items"), Names{"t.eml"});
  EXPECT_EQ(rig.MessagesIn("Work/2019"), Names{"y.eml"});
  EXPECT_EQ(rig.conversion.Report().messagesConverted, 6);
  EXPECT_EQ(rig.LastBox().title, "Completed");
  EXPECT_EQ(
      rig.LastBox().text,
      "Messages Converted Successfully.\r\nOpen Converted Outlook Data file in Microsoft Outlook to View "
      "Converted Messages.");
  EXPECT_TRUE(rig.Store().loggedOff);
  EXPECT_EQ(FakeStoreService::Find(rig.Store(), "Inbox")->flags.begin()->second, 17);
}

// Folder names are one name whatever the case of their letters, accented ones too, as in the
// real store: two source folders that differ only so fill one store folder.
TEST(ConversionTest, FoldersDifferingOnlyInLetterCaseShareOneStoreFolder) {
  Rig rig;
  rig.Message("\u00c4rger/a.eml");  // "Ärger"
  rig.Message("\u00e4RGER/b.eml");  // "äRGER"
  rig.RunSingle("src");
  std::vector<std::string> folders = FakeStoreService::FolderPaths(rig.Store());
  const auto merged = std::find_if(folders.begin(), folders.end(), [](const std::string& f) {
    return f == "\u00c4rger" || f == "\u00e4RGER";
  });
  ASSERT_NE(merged, folders.end());
  EXPECT_EQ(std::count_if(folders.begin(), folders.end(),
                          [](const std::string& f) { return f == "\u00c4rger" || f == "\u00e4RGER"; }),
            1);
  EXPECT_EQ(rig.MessagesIn(*merged), (Names{"a.eml", "b.eml"}));
  EXPECT_EQ(rig.conversion.Report().messagesConverted, 2);
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
  // The trailing separator is not part of the folder's name.
  EXPECT_EQ(rig.host.proposedNames, Names{"src7.12.26 1.34.05.pst"});
  EXPECT_EQ(rig.Store().displayName, "src : Created - 7.12.26 1.34.05");
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
            "This action will STOP complete conversion process.\r\nDo you really want to \"STOP\" on-going "
            "conversion ?");
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
  // The skip already ended the only folder: the stop found nothing left to stop.
  EXPECT_EQ(both.conversion.Report().foldersSkipped, 1);
  EXPECT_FALSE(both.conversion.Report().stopped);
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
  rig.tree.File("other/Work/b.eml", "Subject: y\n\nbody\n");
  rig.host.single = false;
  rig.host.rows = {{true, "src", rig.tree.Path("src")}, {true, "other", rig.tree.Path("other")}};
  rig.service.failLogonFor = {rig.tree.Path("out/src.pst")};
  ASSERT_TRUE(rig.conversion.StartConversion_Click());
  ASSERT_EQ(rig.host.boxes.size(), 2u);
  EXPECT_EQ(rig.host.boxes[0].title, "Outlook Error");
  const std::string& text = rig.host.boxes[0].text;
  // What went wrong and what to do come first; no advice about installing Outlook.
  EXPECT_EQ(text.rfind("The data file could not be created in " + rig.tree.Path("out") + ": ", 0), 0u)
      << text;
  EXPECT_NE(text.find("Permission denied. Choose a folder you can write to."), std::string::npos) << text;
  EXPECT_EQ(text.find("Outlook"), std::string::npos);
  EXPECT_EQ(rig.host.rowStates[1], RowState::kFailed);
  EXPECT_EQ(rig.service.sessionsReleasedWithoutLogoff, 0);  // the logon itself failed: nothing open
  // The failed folder leaves nothing behind for the next: its files go under their own root.
  EXPECT_EQ(rig.host.rowStates[2], RowState::kConverted);
  ASSERT_EQ(rig.service.stores.size(), 1u);
  EXPECT_EQ(rig.Store(0).path, rig.tree.Path("out/other.pst"));
  EXPECT_EQ(rig.MessagesIn("Work"), Names{"b.eml"});
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
  EXPECT_TRUE(rig.conversion.Report().cancelled);
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
  EXPECT_EQ(rig.host.rowStates,
            (std::map<std::int32_t, RowState>{
                {1, RowState::kConverted}, {3, RowState::kConverted}, {4, RowState::kNoMail}}));
  // The box names the folder without mail and the file written under another name.
  const std::string& text = rig.LastBox().text;
  EXPECT_EQ(text.find("Successfully"), std::string::npos);
  EXPECT_NE(text.find("No .eml or .emlx files were found in " + rig.tree.Path("users/cid") + "."),
            std::string::npos);
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
            "All Folders Converted Successfully.\r\nOpen Converted Outlook Data file(s) in Microsoft Outlook "
            "to View "
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
  rig.Message("../users/bob/d.eml");
  rig.host.single = false;
  rig.host.rows = {{true, "ann", rig.tree.Path("users/ann")}, {true, "bob", rig.tree.Path("users/bob")}};
  rig.service.failLogonFor = {rig.tree.Path("out/ann.pst")};
  rig.host.onYield = [&](int) {
    if (rig.host.progress.lblProgress == "33% Complete") rig.shared.SkipRequested = true;
  };
  rig.host.answers = {MsgBoxResult::kYes};
  ASSERT_TRUE(rig.conversion.StartConversion_Click());
  EXPECT_EQ(rig.host.rowStates[1], RowState::kFailed);
  EXPECT_EQ(rig.host.rowStates[2], RowState::kStopped);  // skipped halfway
}

// Keeps every record the run hands on.
struct Records : FileReport {
  std::vector<FileRecord> all;
  void Add(const FileRecord& record) override { all.push_back(record); }
  std::string Of(const std::string& name) const {
    for (const FileRecord& r : all) {
      if (r.path.size() >= name.size() &&
          r.path.compare(r.path.size() - name.size(), name.size(), name) == 0) {
        return std::string(OutcomeName(r.outcome)) + "|" + r.storeFolder + "|" + r.cause;
      }
    }
    return "<none>";
  }
};

// Runs in `folder` and comes back to the working folder it had.
struct InFolder {
  std::string before;
  explicit InFolder(const std::string& folder) {
    char buf[4096];
    before = getcwd(buf, sizeof buf) != nullptr ? buf : "/";
    EXPECT_EQ(chdir(folder.c_str()), 0);
  }
  ~InFolder() { EXPECT_EQ(chdir(before.c_str()), 0); }
};

TEST(ConversionTest, RelativeAndDotSourcesKeepEveryFolderName) {
  // The root's text also stands inside folder names ("GMail", "Mailing lists" under "Mail";
  // "v1.2" under "."): only the leading root may be cut.
  Rig rig;
  rig.tree.File("Mail/GMail/a.eml", "Subject: a\n\nx\n");
  rig.tree.File("Mail/Mailing lists/b.eml", "Subject: b\n\nx\n");
  rig.tree.File("Mail/v1.2/Sent/c.eml", "Subject: c\n\nx\n");
  {
    InFolder here(rig.tree.root());
    rig.host.single = true;
    rig.host.source = "Mail";
    ASSERT_TRUE(rig.conversion.StartConversion_Click());
  }
  std::vector<std::string> folders = FakeStoreService::FolderPaths(rig.Store(0));
  std::sort(folders.begin(), folders.end());
  EXPECT_EQ(folders, (Names{"Deleted Items", "GMail", "Inbox", "Mailing lists", "Outbox", "Sent Items",
                            "v1.2", "v1.2/Sent"}));
  EXPECT_EQ(rig.MessagesIn("Mailing lists", 0), Names{"b.eml"});
  EXPECT_EQ(rig.MessagesIn("v1.2/Sent", 0), Names{"c.eml"});

  {
    InFolder here(rig.tree.Path("Mail"));
    rig.host.source = ".";
    ASSERT_TRUE(rig.conversion.StartConversion_Click());
  }
  EXPECT_EQ(rig.MessagesIn("GMail", 1), Names{"a.eml"});
  EXPECT_EQ(rig.MessagesIn("v1.2/Sent", 1), Names{"c.eml"});
  EXPECT_EQ(rig.host.proposedNames.back(), "Mail7.12.26 1.34.05.pst");  // the folder's name, not "."
}

TEST(ConversionTest, MultipleModeMapsEachRootsInboxAndSent) {
  Rig rig;
  rig.Message("../users/ann/Inbox/a.eml");
  rig.Message("../users/ann/Sent/b.eml");
  rig.Message("../users/ann/Sent/Old/c.eml");
  rig.host.single = false;
  rig.host.rows = {{true, "ann", rig.tree.Path("users/ann")}};
  ASSERT_TRUE(rig.conversion.StartConversion_Click());
  std::vector<std::string> folders = FakeStoreService::FolderPaths(rig.Store());
  std::sort(folders.begin(), folders.end());
  EXPECT_EQ(folders, (Names{"Deleted Items", "Inbox", "Outbox", "Sent Items", "Sent Items/Old"}));
  EXPECT_EQ(rig.MessagesIn("Sent Items"), Names{"b.eml"});
  EXPECT_EQ(rig.MessagesIn("Sent Items/Old"), Names{"c.eml"});
}

TEST(ConversionTest, EveryFileGetsOneTrueRecord) {
  Rig rig;
  rig.Message("good.eml");
  rig.Message("Work/bad.eml");
  rig.tree.File("src/Work/empty.eml", "");
  rig.tree.File("src/notes.txt", "not mail");
  rig.service.failImportOf = {"bad.eml"};
  Records records;
  rig.conversion.SetFileReport(&records);
  rig.RunSingle("src");
  EXPECT_EQ(records.all.size(), 4u);
  EXPECT_EQ(records.Of("good.eml"), "converted||");
  EXPECT_EQ(records.Of("bad.eml"), "failed|Work|injected: " + rig.Source("Work/bad.eml"));
  EXPECT_EQ(records.Of("empty.eml"), "empty|Work|the file is empty (0 bytes)");
  EXPECT_EQ(records.Of("notes.txt"), "skipped||not a message file (.eml or .emlx)");
  const RunReport& report = rig.conversion.Report();
  EXPECT_EQ(report.messagesConverted, 1);
  EXPECT_EQ(report.messagesEmpty, 1);
  EXPECT_FALSE(report.Clean());
  EXPECT_EQ(rig.MessagesIn("Work"), Names{});  // no empty message stands in for the empty file
}

TEST(ConversionTest, MessagesOfADataFileThatCannotBeWrittenAreNotCountedConverted) {
  Rig rig;
  rig.Message("../users/ann/a.eml");
  rig.Message("../users/ann/b.eml");
  rig.Message("../users/bob/c.eml");
  rig.host.single = false;
  rig.host.rows = {{true, "ann", rig.tree.Path("users/ann")}, {true, "bob", rig.tree.Path("users/bob")}};
  rig.service.failLogoffFor = {rig.tree.Path("out/ann.pst")};
  Records records;
  rig.conversion.SetFileReport(&records);
  ASSERT_TRUE(rig.conversion.StartConversion_Click());
  const RunReport& report = rig.conversion.Report();
  EXPECT_EQ(report.messagesConverted, 1);  // only bob's, whose file was written
  EXPECT_EQ(report.foldersConverted, 1);
  ASSERT_EQ(report.failedStores.size(), 1u);
  EXPECT_EQ(report.failedStores[0].messagesLost, 2);
  EXPECT_EQ(records.Of("a.eml"),
            "not saved||the data file could not be written: injected: No space left on device");
  EXPECT_EQ(records.Of("c.eml"), "converted||");
  ASSERT_EQ(report.written.size(), 1u);
  EXPECT_EQ(report.written[0].target, rig.tree.Path("out/bob.pst"));
}

TEST(ConversionTest, AMessageThatCannotBeSavedIsReportedAndTheOthersGoOn) {
  Rig rig;
  for (const char* name : {"a.eml", "b.eml", "c.eml"}) rig.Message(std::string("Work/") + name);
  rig.service.failSaveOf = {"b.eml"};
  Records records;
  rig.conversion.SetFileReport(&records);
  rig.RunSingle("src");
  const RunReport& report = rig.conversion.Report();
  EXPECT_EQ(rig.service.savesRefused, 1);
  EXPECT_EQ(report.messagesConverted, 2);
  EXPECT_EQ(report.foldersConverted, 1);
  ASSERT_EQ(report.failedFiles.size(), 1u);
  EXPECT_EQ(report.failedFiles[0].path, rig.Source("Work/b.eml"));
  EXPECT_EQ(records.Of("b.eml"), "failed|Work|injected: cannot save " + rig.Source("Work/b.eml"));
  EXPECT_EQ(records.Of("c.eml"), "converted|Work|");
  EXPECT_EQ(rig.MessagesIn("Work"), (Names{"a.eml", "c.eml"}));
  EXPECT_TRUE(rig.Store().loggedOff);
}

TEST(ConversionTest, AFolderTheStoreRefusesCostsOnlyItsOwnMessages) {
  Rig rig;
  rig.Message("Work/w.eml");
  rig.Message("Work/Old/o.eml");
  rig.Message("Other/x.eml");
  rig.service.failAddFolder = {"Work"};
  Records records;
  rig.conversion.SetFileReport(&records);
  rig.RunSingle("src");
  const RunReport& report = rig.conversion.Report();
  EXPECT_GE(rig.service.foldersRefused, 1);
  // Neither the mapping nor the import's second attempt could make the folder: its messages are
  // reported, the rest are converted and the data file is written.
  EXPECT_EQ(report.messagesConverted, 1);
  EXPECT_EQ(report.foldersConverted, 1);
  ASSERT_EQ(report.failedFiles.size(), 2u);
  EXPECT_EQ(records.Of("w.eml"), "failed|Work|Folder \"Work\" does not exist");
  EXPECT_EQ(records.Of("o.eml"), "failed|Work\\Old|Folder \"Work\" does not exist");
  EXPECT_EQ(records.Of("x.eml"), "converted|Other|");
  EXPECT_EQ(rig.MessagesIn("Other"), Names{"x.eml"});
  EXPECT_EQ(FakeStoreService::Find(rig.Store(), "Work"), nullptr);
  EXPECT_TRUE(rig.Store().loggedOff);
}

TEST(ConversionTest, ASkipOrStopNamesWhatItLeftOut) {
  Rig skip;
  for (int i = 1; i <= 3; ++i) skip.Message("m" + std::to_string(i) + ".eml");
  skip.host.onYield = [&](int) { skip.shared.SkipRequested = true; };
  skip.host.answers = {MsgBoxResult::kYes};
  Records records;
  skip.conversion.SetFileReport(&records);
  skip.RunSingle("src");
  const RunReport& report = skip.conversion.Report();
  ASSERT_EQ(report.leftOut.size(), 1u);
  EXPECT_EQ(report.leftOut[0].folderName, "src");
  EXPECT_EQ(report.leftOut[0].messagesLeft, 2);
  EXPECT_EQ(std::count_if(records.all.begin(), records.all.end(),
                          [](const FileRecord& r) {
                            return r.outcome == FileOutcome::kSkipped &&
                                   r.cause == "the folder was skipped by the user";
                          }),
            2);

  // A stop after the last file of the last folder leaves nothing out and is not reported.
  Rig late;
  late.Message("only.eml");
  late.host.onYield = [&](int) {
    if (late.host.progress.lblProgress == "100% Complete") late.shared.StopRequested = true;
  };
  late.host.answers = {MsgBoxResult::kYes};
  late.RunSingle("src");
  EXPECT_FALSE(late.conversion.Report().stopped);
  EXPECT_TRUE(late.conversion.Report().Clean());

  // A stop in multiple mode names the ticked folders it never began.
  Rig stop;
  stop.Message("../users/ann/a.eml");
  stop.Message("../users/ann/b.eml");
  stop.Message("../users/ann/d.eml");
  stop.Message("../users/bob/c.eml");
  stop.host.single = false;
  stop.host.rows = {{true, "ann", stop.tree.Path("users/ann")}, {true, "bob", stop.tree.Path("users/bob")}};
  stop.host.onYield = [&](int) {
    if (stop.host.progress.lblProgress == "33% Complete") stop.shared.StopRequested = true;
  };
  stop.host.answers = {MsgBoxResult::kYes};
  ASSERT_TRUE(stop.conversion.StartConversion_Click());
  const RunReport& stopped = stop.conversion.Report();
  EXPECT_TRUE(stopped.stopped);
  ASSERT_EQ(stopped.leftOut.size(), 2u);
  EXPECT_EQ(stopped.leftOut[0].messagesLeft, 1);
  EXPECT_EQ(stopped.leftOut[1].folderName, "bob");
  EXPECT_EQ(stopped.leftOut[1].messagesLeft, -1);
}

TEST(ConversionTest, FoldersDeeperThanTheStoreTakesAreFoldedNotLost) {
  Rig rig;
  std::string deep;
  for (int level = 1; level <= kMaxFolderLevels + 5; ++level) deep += "d" + std::to_string(level) + "/";
  rig.Message(deep + "deepest.eml");
  rig.Message("d1/d2/shallow.eml");
  rig.RunSingle("src");
  std::size_t deepestLevel = 0;
  for (const std::string& path : FakeStoreService::FolderPaths(rig.Store())) {
    deepestLevel = std::max<std::size_t>(deepestLevel, std::count(path.begin(), path.end(), '/') + 1);
  }
  EXPECT_EQ(deepestLevel, static_cast<std::size_t>(kMaxFolderLevels));
  std::string kept, last;
  for (int level = 1; level < kMaxFolderLevels; ++level) kept += "d" + std::to_string(level) + "/";
  for (int level = kMaxFolderLevels; level <= kMaxFolderLevels + 5; ++level) {
    last += (last.empty() ? "d" : " \u203A d") + std::to_string(level);
  }
  EXPECT_EQ(rig.MessagesIn(kept + last), Names{"deepest.eml"});
  EXPECT_EQ(rig.MessagesIn("d1/d2"), Names{"shallow.eml"});
  const RunReport& report = rig.conversion.Report();
  EXPECT_EQ(report.messagesConverted, 2);
  // One note for every folded folder, the deepest among them.
  EXPECT_EQ(report.notes.size(), 5u);
  EXPECT_TRUE(std::any_of(report.notes.begin(), report.notes.end(), [&](const std::string& note) {
    return note.find("its messages are in the folder \"" + last + "\"") != std::string::npos;
  }));
}

TEST(ConversionTest, TheWizardsReportIsWrittenBesideADataFileMissingAnything) {
  Rig rig;
  rig.Message("good.eml");
  rig.Message("bad.eml");
  rig.service.failImportOf = {"bad.eml"};
  rig.conversion.SetReportsBesideStores(true);
  rig.RunSingle("src");
  const std::string expected = rig.tree.Path("out/src7.12.26 1.34.05 - conversion report.tsv");
  EXPECT_EQ(rig.conversion.Report().reportFile, expected);
  std::ifstream in(expected);
  std::string heading, first, second;
  std::getline(in, heading);
  std::getline(in, first);
  std::getline(in, second);
  EXPECT_EQ(heading, "file\tstatus\tfolder\tcause");
  const std::string both = first + "\n" + second;
  EXPECT_NE(both.find(rig.Source("bad.eml") + "\tfailed\t\tinjected: "), std::string::npos) << both;
  EXPECT_NE(both.find(rig.Source("good.eml") + "\tconverted\t\t"), std::string::npos) << both;

  // A run that converted everything writes no report.
  Rig clean;
  clean.Message("good.eml");
  clean.conversion.SetReportsBesideStores(true);
  clean.RunSingle("src");
  EXPECT_TRUE(clean.conversion.Report().reportFile.empty());
}

}  // namespace
}  // namespace engine
