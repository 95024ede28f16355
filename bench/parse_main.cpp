// bench_parse [--gmime] FOLDER: parses every message file of a tree with the MIME layer alone (no
// store), the floor under what a conversion can cost. Prints files, bytes and seconds. --gmime
// parses every message with GMime, skipping the structural parser, to compare the two.
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "engine/message_names.h"
#include "fs/collector.h"
#include "mime/message_file.h"

int main(int argc, char** argv) {
  const bool gmime_only = argc == 3 && std::string(argv[1]) == "--gmime";
  if (argc != 2 && !gmime_only) {
    std::fprintf(stderr, "usage: bench_parse [--gmime] FOLDER\n");
    return 2;
  }
  mime::internal::ForceGMimeParser(gmime_only);
  const auto start = std::chrono::steady_clock::now();
  std::string folder = argv[argc - 1];
  fs::KeyedList files, folders;
  std::int32_t fileCounter = 1, folderCounter = 0;
  if (!fs::CollectFiles(folder, "*.*", fileCounter, folderCounter, files, folders, {}).ok()) return 1;
  long parsed = 0, failed = 0;
  long long bytes = 0;
  for (const std::string& path : files.Items()) {
    if (!engine::IsMessageFileName(path)) continue;
    auto content = mime::ReadMessageFile(path);
    if (!content.ok()) {
      ++failed;
      continue;
    }
    struct stat st;
    if (stat(path.c_str(), &st) == 0) bytes += st.st_size;
    ++parsed;
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("parsed %ld files (%lld bytes, %ld unreadable) in %.3f s\n", parsed, bytes, failed, seconds);
  return failed == 0 ? 0 : 1;
}
