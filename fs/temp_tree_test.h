// A scratch folder for tests that need real files; removed with everything in it.
#pragma once

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

}  // namespace fs::testing
