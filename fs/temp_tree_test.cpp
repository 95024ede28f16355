#include "fs/temp_tree_test.h"

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace fs::testing {

TempTree::TempTree() {
  std::string tmpl = (std::filesystem::temp_directory_path() / "quill-fs-XXXXXX").string();
  if (mkdtemp(tmpl.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  root_ = tmpl;
}

TempTree::~TempTree() {
  std::error_code ignored;
  std::filesystem::remove_all(root_, ignored);
}

std::string TempTree::Folder(const std::string& relative) const {
  std::filesystem::create_directories(Path(relative));
  return Path(relative);
}

std::string TempTree::File(const std::string& relative, const std::string& content) const {
  const std::filesystem::path p(Path(relative));
  std::filesystem::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary) << content;
  return p.string();
}

}  // namespace fs::testing
