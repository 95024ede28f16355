// quill-import-pst: writes the given mail files (and every file below the given folders) into the
// Inbox of a new .pst, through the same mapping the converter uses. Used by the read-back tests,
// which compare the store with what independent readers and Python's email package see.
//
//   quill-import-pst OUT.pst MANIFEST.tsv PATH...
//
// MANIFEST.tsv gets one line per imported message: its node id (decimal), a tab, the file's path.
// Files that cannot be read are listed on stderr and left out; the exit status is 1 only when the
// store itself cannot be written.
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "mime/message_file.h"
#include "pst/import/message_builder.h"
#include "pst/messaging/store_writer.h"
#include "pst/ndb/file_writer.h"

namespace {

std::chrono::sys_seconds ModificationTime(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return {};
  return std::chrono::sys_seconds(std::chrono::seconds(st.st_mtim.tv_sec));
}

std::vector<std::string> CollectFiles(int argc, char** argv) {
  std::vector<std::string> files;
  for (int i = 3; i < argc; ++i) {
    std::error_code ec;
    if (std::filesystem::is_directory(argv[i], ec)) {
      std::vector<std::string> found;
      for (auto it = std::filesystem::recursive_directory_iterator(argv[i], ec);
           !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        const std::filesystem::path& p = it->path();
        if (it->is_regular_file() && (p.extension() == ".eml" || p.extension() == ".emlx"))
          found.push_back(p.string());
      }
      std::sort(found.begin(), found.end());
      files.insert(files.end(), found.begin(), found.end());
    } else {
      files.emplace_back(argv[i]);
    }
  }
  return files;
}

int Fail(const quill::Status& status) {
  std::fprintf(stderr, "quill-import-pst: %s\n", status.ToString().c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: %s OUT.pst MANIFEST.tsv PATH...\n", argv[0]);
    return 2;
  }
  pst::ndb::FileWriterOptions fileOptions;
  fileOptions.sync = false;
  auto file = pst::ndb::FileWriter::Create(argv[1], fileOptions);
  if (!file.ok()) return Fail(file.status());
  auto store = pst::messaging::StoreWriter::Create(**file);
  if (!store.ok()) return Fail(store.status());
  auto inbox = (*store)->CreateFolder((*store)->ipmSubtree(), u"Inbox");
  if (!inbox.ok()) return Fail(inbox.status());
  if (quill::Status s = (*store)->SetSpecialFolder(pst::messaging::SpecialFolder::kInbox, *inbox); !s.ok()) {
    return Fail(s);
  }

  std::ofstream manifest(argv[2]);
  pst::import::ImportOptions options;
  options.now = std::chrono::time_point_cast<std::chrono::seconds>(std::chrono::system_clock::now());
  options.nameMap = &(*store)->nameMap();
  for (const std::string& path : CollectFiles(argc, argv)) {
    quill::Result<mime::ParsedMessage> content = mime::ReadMessageFile(path);
    if (!content.ok()) {
      std::fprintf(stderr, "skipped %s: %s\n", path.c_str(), content.status().ToString().c_str());
      continue;
    }
    options.fileModified = ModificationTime(path);
    const pst::messaging::MessageContent message = pst::import::BuildMessage(*content, options).message;
    quill::Result<pst::ndb::Nid> nid = (*store)->AddMessage(*inbox, message);
    if (!nid.ok()) return Fail(nid.status());
    manifest << *nid << '\t' << path << '\n';
  }
  if (quill::Status s = (*store)->Close(); !s.ok()) return Fail(s);
  if (quill::Status s = (*file)->Close(); !s.ok()) return Fail(s);
  return manifest.good() ? 0 : Fail(quill::Status::IOError(std::string("cannot write ") + argv[2]));
}
