#include "fs/temp_tree_test.h"

#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>

namespace fs::testing {

// A new folder under a random name, as mkdtemp makes one (which Windows lacks): creating it fails
// when the name is taken, and another name is tried.
TempTree::TempTree() {
  std::random_device seed;
  std::mt19937_64 rng((static_cast<std::uint64_t>(seed()) << 32) ^ seed());
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string name = "quill-fs-" + std::to_string(rng() % 1000000000000u);
    const std::filesystem::path path = std::filesystem::temp_directory_path() / name;
    if (std::filesystem::create_directory(path)) {
      root_ = path.string();
      return;
    }
  }
  throw std::runtime_error("no free name for a scratch folder");
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
