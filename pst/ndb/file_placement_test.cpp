// Where a finished file goes, and what a second writer of the same target finds.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>

#include "pst/ndb/file_writer.h"

namespace pst::ndb {
namespace {

namespace fs = std::filesystem;

std::string ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteText(const fs::path& p, const std::string& text) { std::ofstream(p, std::ios::binary) << text; }

class FilePlacement : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string tmpl = (fs::path(::testing::TempDir()) / "place-XXXXXX").string();
    ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
    dir_ = tmpl;
    target_ = (dir_ / "out.pst").string();
  }
  void TearDown() override { fs::remove_all(dir_); }

  quill::Result<std::unique_ptr<FileWriter>> Create(const std::string& target) {
    FileWriterOptions options;
    options.sync = false;
    options.bufferSize = 64 << 10;
    return FileWriter::Create(target, options);
  }
  std::unique_ptr<FileWriter> Open(const std::string& target) {
    auto w = Create(target);
    EXPECT_TRUE(w.ok()) << w.status().ToString();
    if (!w.ok()) return nullptr;
    // Some data, so that the file is more than a header.
    std::vector<std::uint8_t> data(5000, 0x5A);
    auto bid = w.value()->WriteDataBlock(data);
    EXPECT_TRUE(bid.ok());
    EXPECT_TRUE(w.value()->AddNode(0x21, bid.value(), 0, 0).ok());
    return std::move(w).value();
  }
  std::set<std::string> Names() const {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(dir_)) names.insert(e.path().filename().string());
    return names;
  }
  static bool IsStore(const fs::path& p) { return ReadAll(p).substr(0, 4) == "!BDN"; }

  fs::path dir_;
  std::string target_;
};

TEST_F(FilePlacement, ASecondWriterOfTheSameTargetIsRefusedUntilTheFirstEnds) {
  auto first = Open(target_);
  auto second = Create(target_);
  ASSERT_FALSE(second.ok());
  EXPECT_EQ(second.status().code(), quill::Status::Code::kAlreadyExists);
  EXPECT_EQ(second.status().message(), "another conversion is writing " + target_);
  // The same target written another way is the same target.
  auto spelled = Create((dir_ / "." / "out.pst").string());
  EXPECT_FALSE(spelled.ok());
  // Another process is refused as well.
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    auto w = FileWriter::Create(target_);
    ::_exit(!w.ok() && w.status().code() == quill::Status::Code::kAlreadyExists ? 0 : 1);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  // A writer of another target in the same folder is not held up.
  auto other = Open((dir_ / "other.pst").string());
  ASSERT_NE(other, nullptr);
  ASSERT_TRUE(first->Close().ok());
  EXPECT_EQ(first->writtenPath(), target_);
  // Once the first is done, the target is free again; and an abandoned writer frees it too.
  auto third = Open(target_);
  ASSERT_NE(third, nullptr);
  third->Abandon();
  auto fourth = Open(target_);
  ASSERT_NE(fourth, nullptr);
  ASSERT_TRUE(fourth->Close().ok());
  ASSERT_TRUE(other->Close().ok());
  EXPECT_EQ(Names(), (std::set<std::string>{"out.pst", "other.pst"}));
}

TEST_F(FilePlacement, AFileThatAppearedAtTheTargetMeanwhileIsKept) {
  auto w = Open(target_);
  WriteText(target_, "another run's data file");
  WriteText(dir_ / "out (2).pst", "and another");
  ASSERT_TRUE(w->Close().ok());
  EXPECT_EQ(ReadAll(target_), "another run's data file");
  EXPECT_EQ(ReadAll(dir_ / "out (2).pst"), "and another");
  EXPECT_EQ(w->writtenPath(), (dir_ / "out (3).pst").string());
  EXPECT_TRUE(IsStore(w->writtenPath()));
  EXPECT_EQ(Names(), (std::set<std::string>{"out.pst", "out (2).pst", "out (3).pst"}));
}

TEST_F(FilePlacement, OnlyTheFileThatWasAtTheTargetAtTheStartIsReplaced) {
  // The one the caller agreed to replace.
  WriteText(target_, "old");
  auto w = Open(target_);
  ASSERT_TRUE(w->Close().ok());
  EXPECT_EQ(w->writtenPath(), target_);
  EXPECT_TRUE(IsStore(target_));

  // Replaced by a different file meanwhile (same name, new file): that one stays.
  WriteText(target_, "old");
  w = Open(target_);
  WriteText(dir_ / "new", "someone else's newer file");
  fs::rename(dir_ / "new", target_);
  ASSERT_TRUE(w->Close().ok());
  EXPECT_EQ(ReadAll(target_), "someone else's newer file");
  EXPECT_EQ(w->writtenPath(), (dir_ / "out (2).pst").string());
  EXPECT_TRUE(IsStore(dir_ / "out (2).pst"));

  // Removed meanwhile: the name is free, so it is used.
  fs::remove(dir_ / "out (2).pst");
  w = Open(target_);
  fs::remove(target_);
  ASSERT_TRUE(w->Close().ok());
  EXPECT_EQ(w->writtenPath(), target_);
  EXPECT_TRUE(IsStore(target_));
  EXPECT_EQ(Names(), std::set<std::string>{"out.pst"});
}

}  // namespace
}  // namespace pst::ndb
