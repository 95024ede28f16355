// quillsort-collect FOLDER: lists what a conversion of FOLDER would work from, the subfolders and
// the files of the tree in the order the converter takes them, and which files are messages.
#include <cstdio>
#include <string>

#include "common/version.h"
#include "engine/message_names.h"
#include "fs/collector.h"
#include "fs/file_search.h"

int main(int argc, char** argv) {
  if (quill::PrintVersionIfAsked(argc, argv)) return 0;
  if (argc != 2 || std::string(argv[1]) == "--help") {
    std::fprintf(stderr, "usage: quillsort-collect FOLDER\n");
    return argc == 2 ? 0 : 2;
  }
  std::string folder = argv[1];
  if (!fs::FolderExists(folder)) {
    std::fprintf(stderr, "quillsort-collect: the folder \"%s\" does not exist\n", folder.c_str());
    return 1;
  }
  fs::KeyedList files;
  fs::KeyedList folders;
  std::int32_t fileCounter = 1;
  std::int32_t folderCounter = 0;
  std::string caption;
  fs::CollectorHooks hooks;
  hooks.setCountCaption = [&caption](const std::string& c) { caption = c; };
  const quill::Status status =
      fs::CollectFiles(folder, "*.*", fileCounter, folderCounter, files, folders, hooks);
  if (!status.ok()) {
    std::fprintf(stderr, "quillsort-collect: %s\n", status.ToString().c_str());
    return 1;
  }

  std::printf("%s\n\nFolders (%zu):\n", folder.c_str(), folders.Count());
  for (std::size_t i = 0; i < folders.Count(); ++i) {
    std::printf("  %s\n", std::string(folders.Item(i).substr(folder.size())).c_str());
  }
  std::size_t messages = 0;
  std::printf("\nFiles (%zu):\n", files.Count());
  for (std::size_t i = 0; i < files.Count(); ++i) {
    const std::string f(files.Item(i));
    const bool isMessage = engine::IsMessageFileName(f);
    messages += isMessage;
    std::printf("  %-8s %s\n", isMessage ? "message" : "other", f.c_str() + folder.size());
  }
  std::printf("\n%s\n%zu of them are messages.\n",
              caption.empty() ? "0 Messages Queued for Conversion." : caption.c_str(), messages);
  return 0;
}
