// A scratch folder for tests that need real files; removed with everything in it.
#pragma once

#include <functional>
#include <string>

namespace fs::testing {

class TempTree {
 public:
  TempTree();
  ~TempTree();
  TempTree(const TempTree&) = delete;
  TempTree& operator=(const TempTree&) = delete;

  // The root, without a trailing separator.
  const std::string& root() const { return root_; }
  std::string Path(const std::string& relative) const { return root_ + "/" + relative; }
  // Creates the folder (and its parents) below the root; returns its full path.
  std::string Folder(const std::string& relative) const;
  // Creates a file below the root (parents included) holding `content`; returns its full path.
  std::string File(const std::string& relative, const std::string& content = "x") const;

 private:
  std::string root_;
};

// Runs `work` as the unprivileged user "nobody" in a child process and returns what it returned;
// directly when not root. Root reads and writes every folder, so what a user meets at a denied
// folder can only be seen without root's privileges. The folders `work` uses must be open to all.
// POSIX only (temp_tree_posix_test.cpp).
std::string AsUnprivilegedUser(const std::function<std::string()>& work);

}  // namespace fs::testing
