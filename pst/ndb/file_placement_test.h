// What the placement tests share: a scratch folder with a target in it, and writers of it.
// One fixture for the cases every system runs (file_placement_test.cpp) and the ones that need
// POSIX (file_placement_posix_test.cpp), so that they stay one test suite.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "fs/temp_tree_test.h"
#include "pst/ndb/file_writer.h"

namespace pst::ndb::testing {

namespace fs = std::filesystem;

inline std::string ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void WriteText(const fs::path& p, const std::string& text) {
  std::ofstream(p, std::ios::binary) << text;
}

class FilePlacement : public ::testing::Test {
 protected:
  void SetUp() override {
    tree_ = std::make_unique<::fs::testing::TempTree>();
    dir_ = tree_->root();
    target_ = (dir_ / "out.pst").string();
  }
  void TearDown() override { tree_.reset(); }

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

  std::unique_ptr<::fs::testing::TempTree> tree_;
  fs::path dir_;
  std::string target_;
};

}  // namespace pst::ndb::testing
