// The engine with the real store service: conversions into real .pst files, read back by pypff.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "engine/conversion.h"
#include "engine/recording_host_test.h"
#include "fs/temp_tree_test.h"
#include "pst/store/store_service.h"

namespace {

using engine::testing::RecordingHost;

// pypff's view of a file: the folder tree and subjects, one line each.
std::string Tree(const std::string& pst) {
  const std::string cmd =
      "/usr/bin/python3 '" QUILL_SOURCE_DIR "/tests/readers/pst_dump.py' tree '" + pst + "' 2>&1";
  FILE* p = popen(cmd.c_str(), "r");
  std::string out;
  char buf[4096];
  while (std::size_t n = fread(buf, 1, sizeof buf, p)) out.append(buf, n);
  pclose(p);
  return out;
}

int Check(const std::string& pst) {
  return std::system((QUILL_PSTCHECK " '" + pst + "' >/dev/null").c_str());
}

struct Rig {
  fs::testing::TempTree tree;
  engine::SharedState shared;
  RecordingHost host;
  std::unique_ptr<engine::StoreService> service = pst::store::MakeStoreService();
  engine::Conversion conversion{shared, host, *service};

  Rig() { host.saveFolder = tree.Folder("out"); }
  void Message(const std::string& rel, const std::string& subject) {
    tree.File("src/" + rel, "From: A <a@example.org>\nSubject: " + subject + "\n\nbody\n");
  }
};

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// The names in `folder`, sorted: what a run left there, temporary files included.
std::vector<std::string> EntriesOf(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

TEST(EngineStoreTest, FolderTreeAndSpecialNamesInARealStore) {
  Rig rig;
  rig.Message("top.eml", "at the top");
  rig.Message("Inbox/i.eml", "in the inbox");
  rig.Message("Inbox/Sub/s.eml", "below the inbox");
  rig.Message("Work/w.eml", "work");
  rig.Message("Work/Tasks/t.eml", "work tasks");
  rig.Message("Work!Old/o.eml", "old work");
  rig.Message("Ünïcødé 名前/u.eml", "unicode folder");
  rig.host.source = rig.tree.Path("src");
  ASSERT_TRUE(rig.conversion.StartConversion_Click());
  ASSERT_EQ(rig.conversion.Report().messagesConverted, 7);
  const std::string pst = rig.shared.TargetPstPath;
  EXPECT_EQ(Check(pst), 0);
  const std::string tree = Tree(pst);
  EXPECT_TRUE(Has(tree, "  Top of Personal Folders/  (1 messages)\n    - 'at the top'")) << tree;
  EXPECT_TRUE(Has(tree, "    Inbox/  (1 messages)\n      - 'in the inbox'")) << tree;
  EXPECT_TRUE(Has(tree, "      Sub/  (1 messages)\n        - 'below the inbox'")) << tree;
  EXPECT_TRUE(Has(tree, "    Work/  (2 messages)")) << tree;
  EXPECT_TRUE(Has(tree, "      Tasks/  (1 messages)\n        - 'work tasks'")) << tree;
  EXPECT_TRUE(Has(tree, "    Ünïcødé 名前/  (1 messages)")) << tree;
  EXPECT_FALSE(Has(tree, "Work!Old")) << tree;
}

// Source folders whose names differ only in letter case, in any script, become one folder of
// the store, named as the first of them; their messages are all there.
TEST(EngineStoreTest, SourceFoldersDifferingOnlyInCaseShareOneStoreFolder) {
  Rig rig;
  rig.Message("Work/a.eml", "upper work");
  rig.Message("work/b.eml", "lower work");
  rig.Message("\u00C4rger/c.eml", "upper umlaut");  // Ärger
  rig.Message("\u00E4rger/d.eml", "lower umlaut");  // ärger
  rig.Message("Arger/e.eml", "no umlaut");
  rig.host.source = rig.tree.Path("src");
  ASSERT_TRUE(rig.conversion.StartConversion_Click());
  ASSERT_EQ(rig.conversion.Report().messagesConverted, 5);
  const std::string pst = rig.shared.TargetPstPath;
  EXPECT_EQ(Check(pst), 0);
  const std::string tree = Tree(pst);
  EXPECT_TRUE(Has(tree, "    Work/  (2 messages)")) << tree;
  EXPECT_TRUE(Has(tree, "    \u00C4rger/  (2 messages)")) << tree;
  EXPECT_TRUE(Has(tree, "    Arger/  (1 messages)")) << tree;
  EXPECT_FALSE(Has(tree, "work/")) << tree;
  EXPECT_FALSE(Has(tree, "\u00E4rger/")) << tree;
}

TEST(EngineStoreTest, AStoppedRunLeavesACompleteFileWithWhatWasConverted) {
  Rig rig;
  for (int i = 0; i < 20; ++i)
    rig.Message("m" + std::to_string(100 + i) + ".eml", "message " + std::to_string(i));
  rig.host.source = rig.tree.Path("src");
  rig.host.onYield = [&](int) {
    // Messages count as converted only once their file is written, so the progress tells when.
    if (rig.host.progress.lblProgress == "25% Complete") rig.shared.StopRequested = true;
  };
  rig.host.answers = {engine::MsgBoxResult::kYes};
  ASSERT_TRUE(rig.conversion.StartConversion_Click());
  EXPECT_TRUE(rig.conversion.Report().stopped);
  const int converted = rig.conversion.Report().messagesConverted;
  EXPECT_GE(converted, 5);
  EXPECT_LT(converted, 20);
  const std::string pst = rig.shared.TargetPstPath;
  EXPECT_EQ(Check(pst), 0);
  EXPECT_TRUE(Has(Tree(pst), "Top of Personal Folders/  (" + std::to_string(converted) + " messages)"));
}

TEST(EngineStoreTest, AFolderWhoseFileCannotBeWrittenDoesNotStopTheOthers) {
  Rig rig;
  // A name longer than a file name may be: the system refuses ann's data file, whoever runs this.
  const std::string annName = "ann" + std::string(260, 'n');
  rig.Message("../users/ann/a.eml", "for ann");
  rig.Message("../users/bob/b.eml", "for bob");
  rig.Message("../users/cid/c.eml", "for cid");
  rig.host.single = false;
  rig.host.outputFolder = rig.tree.Folder("out");
  rig.host.rows = {{true, "bob", rig.tree.Path("users/bob")},
                   {true, annName, rig.tree.Path("users/ann")},
                   {true, "cid", rig.tree.Path("users/cid")}};
  ASSERT_TRUE(rig.conversion.StartConversion_Click());
  const engine::RunReport& report = rig.conversion.Report();
  ASSERT_EQ(report.failedStores.size(), 1u);
  EXPECT_EQ(report.failedStores[0].folderName, annName);
  EXPECT_TRUE(Has(report.failedStores[0].cause, "File name too long")) << report.failedStores[0].cause;
  EXPECT_EQ(rig.host.rowStates[2], engine::RowState::kFailed);
  // The folders before and after it were converted into complete files, and nothing else is there.
  EXPECT_EQ(report.foldersConverted, 2);
  EXPECT_EQ(report.messagesConverted, 2);
  EXPECT_EQ(rig.host.rowStates[1], engine::RowState::kConverted);
  EXPECT_EQ(rig.host.rowStates[3], engine::RowState::kConverted);
  EXPECT_TRUE(Has(Tree(rig.tree.Path("out/bob.pst")), "for bob"));
  EXPECT_TRUE(Has(Tree(rig.tree.Path("out/cid.pst")), "for cid"));
  EXPECT_EQ(EntriesOf(rig.tree.Path("out")), (std::vector<std::string>{"bob.pst", "cid.pst"}));
  EXPECT_TRUE(Has(rig.host.boxes.back().text, "could not be written")) << rig.host.boxes.back().text;
}

TEST(EngineStoreTest, AnExistingNameIsPassedOverForTheNextFreeOne) {
  Rig rig;
  rig.Message("../users/ann/a.eml", "for ann");
  rig.Message("../users/bob/b.eml", "for bob");
  rig.host.single = false;
  rig.host.outputFolder = rig.tree.Folder("out") + " ";
  rig.tree.Folder("out/ann.pst");  // a folder where ann's file should go: it is not replaced
  rig.host.rows = {{true, "ann", rig.tree.Path("users/ann")}, {true, "bob", rig.tree.Path("users/bob")}};
  ASSERT_TRUE(rig.conversion.StartConversion_Click());
  // The existing name is passed over, so ann's store goes to "ann (2).pst".
  EXPECT_EQ(rig.conversion.Report().foldersConverted, 2);
  EXPECT_TRUE(Has(Tree(rig.tree.Path("out/ann (2).pst")), "for ann"));
  EXPECT_TRUE(Has(Tree(rig.tree.Path("out/bob.pst")), "for bob"));
}

TEST(EngineStoreTest, AFileThatTookTheTargetMeanwhileIsKeptAndTheResultNamed) {
  Rig rig;
  rig.Message("a.eml", "kept beside");
  rig.host.source = rig.tree.Path("src");
  // Another program writes the target while the run imports: it is not ours to replace.
  bool placed = false;
  rig.host.onYield = [&](int) {
    if (placed || rig.shared.TargetPstPath.empty() ||
        !Has(rig.host.progress.LblCurrentDBX, "Converting Messages"))
      return;
    rig.tree.File("out/" + rig.shared.TargetPstPath.substr(rig.shared.TargetPstPath.find_last_of('/') + 1),
                  "another program's file");
    placed = true;
  };
  ASSERT_TRUE(rig.conversion.StartConversion_Click());
  ASSERT_TRUE(placed);
  const engine::RunReport& report = rig.conversion.Report();
  ASSERT_EQ(report.written.size(), 1u);
  EXPECT_TRUE(report.written[0].renamed);
  EXPECT_TRUE(Has(report.written[0].target, " (2).pst")) << report.written[0].target;
  EXPECT_EQ(rig.shared.TargetPstPath, report.written[0].target);
  EXPECT_TRUE(Has(Tree(report.written[0].target), "kept beside"));
  EXPECT_TRUE(
      Has(rig.host.boxes.back().text, "was written, since a file of the planned name already existed"));
}

}  // namespace
