// The file writer under failing file calls, at the node database's level: small buffers, so that
// a store of a few hundred KB takes dozens of writes, and a dropped tree that has to be read back.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <set>
#include <string>

#include "pst/ndb/file_ops.h"
#include "pst/ndb/file_writer.h"
#include "pst/ndb/ndb_test_reader.h"

namespace pst::ndb {
namespace {

namespace fs = std::filesystem;
using Fault = FaultyFileOps::Fault;

std::vector<std::uint8_t> Random(std::size_t n, std::uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<std::uint8_t> v(n);
  for (auto& b : v) b = static_cast<std::uint8_t>(rng());
  return v;
}

std::string ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class FileFaults : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string tmpl = (fs::path(::testing::TempDir()) / "faults-XXXXXX").string();
    ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override { fs::remove_all(dir_); }

  // A data stream of `size` bytes as blocks under one tree; returns the tree's id (0 on failure).
  static Bid Stream(NodeSink& sink, const std::vector<std::uint8_t>& data) {
    std::vector<Bid> leaves;
    for (std::size_t off = 0; off < data.size(); off += kMaxBlockData) {
      auto bid = sink.WriteDataBlock(std::span(data).subspan(off, std::min(kMaxBlockData, data.size() - off)));
      if (!bid.ok()) return 0;
      leaves.push_back(bid.value());
    }
    auto top = sink.WriteDataTree(leaves, data.size());
    return top.ok() ? top.value() : 0;
  }

  // Writes the store; the first failure, or Ok.
  quill::Status Write(FileOps* ops, const std::string& target) {
    FileWriterOptions o;
    o.bufferSize = 64 << 10;
    o.unique = 7;
    o.ops = ops;
    auto w = FileWriter::Create(target, o);
    if (!w.ok()) return w.status();
    // A tree that no node takes: it is on disk by Close, which has to read it back to drop it.
    Stream(*w.value(), Random(3 * kMaxBlockData, 1));
    const Bid kept = Stream(*w.value(), data_);
    if (kept != 0) (void)w.value()->AddNode(0x21, kept, 0, 0);
    return w.value()->Close();
  }

  fs::path dir_;
  const std::vector<std::uint8_t> data_ = Random(400000, 2);
};

TEST_F(FileFaults, EveryCallFailingLeavesTheTargetAsItWasOrACompleteFile) {
  FaultyFileOps ops;
  ops.FailCall(0, 0);
  ASSERT_TRUE(Write(&ops, (dir_ / "clean.pst").string()).ok());
  const std::uint64_t calls = ops.calls();
  ASSERT_GE(calls, 10u);
  std::set<std::string> kinds;
  for (Fault fault : {Fault::kError, Fault::kShortThenError, Fault::kShort}) {
    for (std::uint64_t n = 1; n <= calls; ++n) {
      SCOPED_TRACE("fault " + std::to_string(static_cast<int>(fault)) + " at call " + std::to_string(n));
      const fs::path folder = dir_ / ("run" + std::to_string(n));
      fs::create_directory(folder);
      const std::string target = (folder / "out.pst").string();
      std::ofstream(target) << "old";
      ops.FailCall(n, EIO, fault);
      const quill::Status s = Write(&ops, target);
      const std::string faulted = ops.faulted();
      kinds.insert(faulted);
      // The last call flushes the folder entry after the rename: the file is in place by then.
      const bool shouldFail = fault == Fault::kError ? n < calls : fault == Fault::kShortThenError && faulted == "write";
      if (shouldFail) {
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
  EXPECT_EQ(kinds, (std::set<std::string>{"open", "write", "read", "resize", "sync", "close", "rename"}));
}

// Where the system has no rename that refuses to replace (EINVAL), a new link, which cannot
// replace either, places the file.
TEST_F(FileFaults, WithoutANoReplaceRenameALinkPlacesTheFile) {
  FaultyFileOps ops;
  ops.FailCall(0, 0);
  ASSERT_TRUE(Write(&ops, (dir_ / "clean.pst").string()).ok());
  const std::uint64_t rename = ops.calls() - 1;  // before the flush of the folder entry

  const std::string target = (dir_ / "new.pst").string();
  ops.FailCall(rename, EINVAL);
  ASSERT_TRUE(Write(&ops, target).ok());
  EXPECT_EQ(ops.faulted(), "rename");
  EXPECT_TRUE(test_reader::ParseFile(target).ok());

  // A file took the name meanwhile: the link fails on it, and the next free name is used.
  FileWriterOptions o;
  o.ops = &ops;
  o.sync = false;
  auto w = FileWriter::Create((dir_ / "taken.pst").string(), o);
  ASSERT_TRUE(w.ok());
  std::ofstream(dir_ / "taken.pst") << "someone else's";
  ops.FailCall(0, 0);
  ASSERT_TRUE(FileWriter::Create((dir_ / "probe.pst").string(), o).value()->Close().ok());
  const std::uint64_t probeRename = ops.calls();  // without sync, the rename is the last call
  ops.FailCall(probeRename, EINVAL);
  ASSERT_TRUE(w.value()->Close().ok());
  EXPECT_EQ(ops.faulted(), "rename");
  EXPECT_EQ(w.value()->writtenPath(), (dir_ / "taken (2).pst").string());
  EXPECT_EQ(ReadAll(dir_ / "taken.pst"), "someone else's");
  EXPECT_EQ(ReadAll(dir_ / "taken (2).pst").substr(0, 4), "!BDN");
  std::set<std::string> names;
  for (const auto& e : fs::directory_iterator(dir_)) names.insert(e.path().filename().string());
  EXPECT_EQ(names, (std::set<std::string>{"clean.pst", "new.pst", "probe.pst", "taken.pst", "taken (2).pst"}));
}

}  // namespace
}  // namespace pst::ndb
