// bench_collect: times the file collector against `find DIR -type f | wc -l` on the same tree, in
// the same run, and prints the ratio. The tree is generated (and removed) unless --dir names one.
//
//   bench_collect [--files N] [--folders M] [--dir EXISTING] [--keep]
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "fs/collector.h"

namespace {

double Seconds(std::chrono::steady_clock::duration d) { return std::chrono::duration<double>(d).count(); }

// Folders form a tree four wide; files are spread evenly over all of them.
void Generate(const std::string& root, int files, int folders) {
  std::vector<std::string> paths{root};
  for (int i = 1; i < folders; ++i) {
    paths.push_back(paths[(i - 1) / 4] + "/f" + std::to_string(i));
    mkdir(paths.back().c_str(), 0755);
  }
  for (int i = 0; i < files; ++i) {
    const std::string file = paths[i % folders] + "/m" + std::to_string(i) + ".eml";
    FILE* f = std::fopen(file.c_str(), "w");
    if (f == nullptr) {
      std::perror(file.c_str());
      std::exit(1);
    }
    std::fputs("Subject: x\n\nx\n", f);
    std::fclose(f);
  }
}

double TimeFind(const std::string& root, long& count) {
  const auto start = std::chrono::steady_clock::now();
  FILE* p = popen(("find '" + root + "' -type f | wc -l").c_str(), "r");
  if (p == nullptr || std::fscanf(p, "%ld", &count) != 1) count = -1;
  if (p != nullptr) pclose(p);
  return Seconds(std::chrono::steady_clock::now() - start);
}

double TimeCollect(const std::string& root, std::size_t& count) {
  const auto start = std::chrono::steady_clock::now();
  fs::KeyedList files;
  fs::KeyedList folders;
  std::int32_t fileCounter = 1;
  std::int32_t folderCounter = 0;
  std::string folder = root;
  fs::CollectorHooks hooks;
  hooks.yield = [] {};
  hooks.setCountCaption = [](const std::string&) {};
  const quill::Status status =
      fs::CollectFiles(folder, "*.*", fileCounter, folderCounter, files, folders, hooks);
  if (!status.ok()) std::fprintf(stderr, "collect: %s\n", status.ToString().c_str());
  count = files.Count();
  return Seconds(std::chrono::steady_clock::now() - start);
}

}  // namespace

int main(int argc, char** argv) {
  int files = 100000;
  int folders = 2000;
  std::string dir;
  bool keep = false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--files" && i + 1 < argc)
      files = std::atoi(argv[++i]);
    else if (a == "--folders" && i + 1 < argc)
      folders = std::atoi(argv[++i]);
    else if (a == "--dir" && i + 1 < argc)
      dir = argv[++i];
    else if (a == "--keep")
      keep = true;
    else {
      std::fprintf(stderr, "usage: bench_collect [--files N] [--folders M] [--dir EXISTING] [--keep]\n");
      return 2;
    }
  }
  const bool generated = dir.empty();
  if (generated) {
    std::string tmpl = (std::filesystem::temp_directory_path() / "quill-bench-collect-XXXXXX").string();
    if (mkdtemp(tmpl.data()) == nullptr) return 1;
    dir = tmpl;
    std::printf("generating %d files in %d folders under %s\n", files, folders, dir.c_str());
    Generate(dir, files, folders);
  }

  // Warm the cache once, then take the best of three of each, alternating.
  long found = 0;
  std::size_t collected = 0;
  TimeFind(dir, found);
  double bestFind = 1e9, bestCollect = 1e9;
  for (int round = 0; round < 3; ++round) {
    bestFind = std::min(bestFind, TimeFind(dir, found));
    bestCollect = std::min(bestCollect, TimeCollect(dir, collected));
  }
  std::printf("find -type f | wc -l : %8.3f s  (%ld files)\n", bestFind, found);
  std::printf("CollectFiles          : %8.3f s  (%zu files)\n", bestCollect, collected);
  std::printf("ratio collect/find    : %8.2f  (target: at most 3.00)\n", bestCollect / bestFind);
  if (generated && !keep) std::filesystem::remove_all(dir);
  return static_cast<long>(collected) == found ? 0 : 1;
}
