// pstcheck FILE.pst [--verbose] [--strict]: lists the structural faults of a Unicode store.
// Notes (what Outlook itself leaves behind and tolerates) fail the run only with --strict.
// Exit status: 0 no findings, 1 findings, 2 the file could not be read, 64 bad usage.
// Installed as quillsort-check; it names itself after the name it was started under.
#include <cstdio>
#include <cstring>
#include <string>

#include "common/version.h"
#include "pst/read/checker.h"

int main(int argc, char** argv) {
  if (quill::PrintVersionIfAsked(argc, argv)) return 0;
  const char* program = quill::ProgramName(argc > 0 ? argv[0] : nullptr, "pstcheck");
  std::string path;
  bool verbose = false;
  bool strict = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--verbose") == 0 || std::strcmp(argv[i], "-v") == 0) {
      verbose = true;
    } else if (std::strcmp(argv[i], "--strict") == 0) {
      strict = true;
    } else if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::printf("usage: %s FILE.pst [--verbose] [--strict]\n", program);
      return 0;
    } else if (path.empty() && argv[i][0] != '-') {
      path = argv[i];
    } else {
      path.clear();
      break;
    }
  }
  if (path.empty()) {
    std::fprintf(stderr, "usage: %s FILE.pst [--verbose] [--strict]\n", program);
    return 64;
  }
  quill::Result<pst::read::CheckReport> r = pst::read::CheckFile(path);
  if (!r.ok()) {
    std::fprintf(stderr, "%s: %s: %s\n", program, path.c_str(), r.status().ToString().c_str());
    return 2;
  }
  const pst::read::CheckReport& report = r.value();
  if (verbose) {
    std::printf("%zu nodes, %zu blocks, %zu B-tree pages\n", report.nodes, report.blocks, report.pages);
    std::printf("%zu folders, %zu messages (with embedded), %zu recipients, %zu attachments\n",
                report.folders.size(), report.messages, report.recipients, report.attachments);
    for (const pst::read::FolderSummary& f : report.folders) {
      std::printf("%*s%s [%s] %zu messages, %zu associated, %zu subfolders\n", 2 * f.depth, "",
                  f.name.empty() ? "(no name)" : f.name.c_str(), pst::read::Hex(f.nid).c_str(), f.messages,
                  f.assoc_messages, f.subfolders);
    }
  }
  for (const pst::read::Finding& f : report.findings) {
    std::printf("%s: %s\n", f.where.c_str(), f.what.c_str());
  }
  for (const pst::read::Finding& f : report.notes) {
    std::printf("note: %s: %s\n", f.where.c_str(), f.what.c_str());
  }
  if (verbose || !report.findings.empty() || !report.notes.empty()) {
    std::printf("%zu findings, %zu notes\n", report.findings.size(), report.notes.size());
  }
  const bool failed = !report.findings.empty() || (strict && !report.notes.empty());
  return failed ? 1 : 0;
}
