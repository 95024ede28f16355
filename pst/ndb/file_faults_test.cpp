// The file writer under failing file calls, at the node database's level: small buffers, so that
// a store of a few hundred KB takes dozens of writes, and a dropped tree that has to be read back.
// Every call the writer makes to the file layer fails in turn, in an otherwise real folder.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <set>
#include <string>

#include "fs/faulty_env.h"
#include "fs/temp_tree_test.h"
#include "pst/ndb/file_writer.h"
#include "pst/ndb/ndb_test_reader.h"

namespace pst::ndb {
namespace {

namespace fs = std::filesystem;
using Fault = ::fs::FaultyEnv::Fault;

using test_reader::Random;
using test_reader::ReadAll;

class FileFaults : public ::testing::Test {
 protected:
  void SetUp() override {
    tree_ = std::make_unique<::fs::testing::TempTree>();
    dir_ = tree_->root();
  }
  void TearDown() override { tree_.reset(); }

  // A data stream of `size` bytes as blocks under one tree; returns the tree's id (0 on failure).
  static Bid Stream(NodeSink& sink, const std::vector<std::uint8_t>& data) {
    std::vector<Bid> leaves;
    for (std::size_t off = 0; off < data.size(); off += kMaxBlockData) {
      auto bid =
          sink.WriteDataBlock(std::span(data).subspan(off, std::min(kMaxBlockData, data.size() - off)));
      if (!bid.ok()) return 0;
      leaves.push_back(bid.value());
    }
    auto top = sink.WriteDataTree(leaves, data.size());
    return top.ok() ? top.value() : 0;
  }

  // Writes the store; the first failure, or Ok.
  quill::Status Write(::fs::Env* env, const std::string& target) {
    FileWriterOptions o;
    o.bufferSize = 64 << 10;
    o.unique = 7;
    o.env = env;
    auto w = FileWriter::Create(target, o);
    if (!w.ok()) return w.status();
    // A tree that no node takes: it is on disk by Close, which has to read it back to drop it.
    Stream(*w.value(), Random(3 * kMaxBlockData, 1));
    const Bid kept = Stream(*w.value(), data_);
    if (kept != 0) (void)w.value()->AddNode(0x21, kept, 0, 0);
    return w.value()->Close();
  }

  std::unique_ptr<::fs::testing::TempTree> tree_;
  fs::path dir_;
  const std::vector<std::uint8_t> data_ = Random(400000, 2);
};

// Calls whose failure the writer may pass over, each for its reason: the clean-up of stale files
// is best effort, a file system without locks is written all the same, a file whose look-up
// failed right after its lock is opened again, and starting the write-back is only a hint.
bool MayBePassedOver(const std::string& call) {
  return call == "list" || call == "lock" || call == "stat" || call == "start writeback";
}

TEST_F(FileFaults, EveryCallFailingLeavesTheTargetAsItWasOrACompleteFile) {
  ::fs::FaultyEnv env(::fs::SystemEnv());
  env.FailCall(0, 0);
  ASSERT_TRUE(Write(&env, (dir_ / "clean.pst").string()).ok());
  const std::uint64_t calls = env.calls();
  ASSERT_GE(calls, 30u);
  std::printf("a small file takes %llu file calls\n", static_cast<unsigned long long>(calls));
  std::set<std::string> kinds;
  for (Fault fault : {Fault::kError, Fault::kShortThenError, Fault::kShort}) {
    bool placed = false;  // the rename into place has been failed at an earlier count
    for (std::uint64_t n = 1; n <= calls; ++n) {
      SCOPED_TRACE("fault " + std::to_string(static_cast<int>(fault)) + " at call " + std::to_string(n));
      const fs::path folder = dir_ / ("run" + std::to_string(n));
      fs::create_directory(folder);
      const std::string target = (folder / "out.pst").string();
      std::ofstream(target) << "old";
      env.FailCall(n, EIO, fault);
      const quill::Status s = Write(&env, target);
      const std::string faulted = env.faulted();
      kinds.insert(faulted);
      // After the rename the file is in place: flushing the folder entry and giving up the lock
      // can no longer fail it.
      const bool shouldFail = fault == Fault::kError ? !placed && !MayBePassedOver(faulted)
                                                     : fault == Fault::kShortThenError && faulted == "write";
      const bool mayFail = fault == Fault::kError && !placed && MayBePassedOver(faulted);
      if (fault == Fault::kError && faulted == "rename") placed = true;
      if (shouldFail || (mayFail && !s.ok())) {
        ASSERT_FALSE(s.ok()) << faulted;
        EXPECT_NE(s.message().find(std::strerror(EIO)), std::string::npos) << s.ToString();
        EXPECT_EQ(ReadAll(target), "old");
      } else {
        ASSERT_TRUE(s.ok()) << s.ToString() << " (" << faulted << ")";
        auto f = test_reader::ParseFile(target);
        ASSERT_TRUE(f.ok()) << f.status().ToString();
        ASSERT_EQ(f->nbt.size(), 1u);
        auto back = test_reader::ReadStream(*f, f->nbt[0x21].data);
        ASSERT_TRUE(back.ok());
        EXPECT_TRUE(back.value() == data_);
      }
      std::size_t entries = 0;
      for (const auto& e : fs::directory_iterator(folder)) entries += e.path().filename() != "out.pst";
      EXPECT_EQ(entries, 0u) << "a temporary file was left";
      fs::remove_all(folder);
    }
  }
  // Every kind of call the writer makes was among those failed.
  EXPECT_EQ(kinds, (std::set<std::string>{"open folder", "stat", "list", "open", "lock", "set permissions",
                                          "write", "start writeback", "read", "resize", "sync", "close",
                                          "rename", "sync folder"}));
}

// Where the system has no rename that refuses to replace (EINVAL), a new link, which cannot
// replace either, places the file.
TEST_F(FileFaults, WithoutANoReplaceRenameALinkPlacesTheFile) {
  ::fs::FaultyEnv env(::fs::SystemEnv());
  env.FailCall(0, 0);
  ASSERT_TRUE(Write(&env, (dir_ / "clean.pst").string()).ok());
  const std::uint64_t rename = env.calls() - 2;  // before the flush of the folder entry and the close

  const std::string target = (dir_ / "new.pst").string();
  env.FailCall(rename, EINVAL);
  ASSERT_TRUE(Write(&env, target).ok());
  EXPECT_EQ(env.faulted(), "rename");
  EXPECT_TRUE(test_reader::ParseFile(target).ok());

  // A file took the name meanwhile: the link fails on it, and the next free name is used.
  FileWriterOptions o;
  o.env = &env;
  o.sync = false;
  auto w = FileWriter::Create((dir_ / "taken.pst").string(), o);
  ASSERT_TRUE(w.ok());
  std::ofstream(dir_ / "taken.pst") << "someone else's";
  // A writer of a free target counts the calls of its Close: without sync, the no-replace rename
  // is followed only by the close, and the taken target's Close makes the same calls up to it.
  auto probe = FileWriter::Create((dir_ / "probe.pst").string(), o);
  ASSERT_TRUE(probe.ok());
  env.FailCall(0, 0);
  ASSERT_TRUE(probe.value()->Close().ok());
  const std::uint64_t probeRename = env.calls() - 1;
  env.FailCall(probeRename, EINVAL);
  ASSERT_TRUE(w.value()->Close().ok());
  EXPECT_EQ(env.faulted(), "rename");
  EXPECT_EQ(w.value()->writtenPath(), (dir_ / "taken (2).pst").string());
  EXPECT_EQ(ReadAll(dir_ / "taken.pst"), "someone else's");
  EXPECT_EQ(ReadAll(dir_ / "taken (2).pst").substr(0, 4), "!BDN");
  std::set<std::string> names;
  for (const auto& e : fs::directory_iterator(dir_)) names.insert(e.path().filename().string());
  EXPECT_EQ(names,
            (std::set<std::string>{"clean.pst", "new.pst", "probe.pst", "taken.pst", "taken (2).pst"}));
}

}  // namespace
}  // namespace pst::ndb
