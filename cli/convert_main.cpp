// quillsort-convert: the conversion engine without windows.
//
//   quillsort-convert [--overwrite] [--report FILE.tsv] [--verbose] SOURCE TARGET.pst
//   quillsort-convert --multiple [--report FILE.tsv] [--verbose] ROOT OUTPUT [NAME...]

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "cli/cli_host.h"
#include "common/cancel.h"
#include "common/version.h"
#include "engine/conversion.h"
#include "engine/report_file.h"
#include "fs/env.h"
#include "pst/store/store_service.h"

namespace {

constexpr const char* kUsage =
    "usage: quillsort-convert [--overwrite] [--report FILE.tsv] [--stats] [--verbose] SOURCE TARGET.pst\n"
    "       quillsort-convert --multiple [--report FILE.tsv] [--stats] [--verbose] ROOT OUTPUT [NAME...]\n"
    "\n"
    "Converts the message files (.eml, .emlx) of a folder tree into an Outlook data file.\n"
    "\n"
    "Single mode: the whole tree below SOURCE becomes TARGET.pst. When TARGET is a folder, the file\n"
    "is named after SOURCE and the time. An existing TARGET is replaced only with --overwrite (or a\n"
    "yes on the terminal), and only once the new file is complete.\n"
    "\n"
    "Multiple mode: every immediate subfolder of ROOT (or only the NAMEs given) becomes its own\n"
    "OUTPUT/<name>.pst; when that file exists, the next free name \"<name> (2).pst\" is used.\n"
    "\n"
    "--report FILE.tsv writes a tab-separated line for every source file: its path, its status\n"
    "(converted, failed, empty, skipped, not saved), the folder of the data file it went to, and\n"
    "why it was not converted.\n"
    "--stats prints the run's time, messages per second and the longest stretch without a yield.\n"
    "--verbose lists every note, file by file with its full path: what was repaired in a message's\n"
    "bytes before it was read, or kept in another form than usual. Without it the summary shows\n"
    "the first ten.\n"
    "\n"
    "Ctrl-C stops after the current message (the data file keeps what was converted so far); a\n"
    "second Ctrl-C ends at once and leaves the target as it was. SIGUSR1 skips the rest of the\n"
    "current folder. Exit status: 0 when every message of every folder was converted, 1 when\n"
    "anything failed, was empty, unreadable, skipped or stopped, 2 for wrong arguments.\n"
    "\n"
    "--help prints this text, --version the program's version.\n";

// The records of a run, passed on to the report file when there is one; with --verbose, the notes
// of the files that were converted are kept for the summary.
class RecordTee : public engine::FileReport {
 public:
  RecordTee(engine::FileReport* next, bool keepNotes) : next_(next), keepNotes_(keepNotes) {}

  void Add(const engine::FileRecord& record) override {
    if (next_ != nullptr) next_->Add(record);
    static constexpr std::string_view kNote = "note: ";
    if (keepNotes_ && record.outcome == engine::FileOutcome::kConverted && record.cause.starts_with(kNote)) {
      fileNotes_.emplace_back(record.path, record.cause.substr(kNote.size()));
    }
  }

  // (full path, its notes joined by "; "), in the order the files were recorded.
  const std::vector<std::pair<std::string, std::string>>& fileNotes() const { return fileNotes_; }

 private:
  engine::FileReport* next_;
  bool keepNotes_;
  std::vector<std::pair<std::string, std::string>> fileNotes_;
};

std::string LeafOf(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

int Usage(const char* problem) {
  if (problem != nullptr) std::fprintf(stderr, "quillsort-convert: %s\n\n", problem);
  std::fputs(kUsage, problem != nullptr ? stderr : stdout);
  return problem != nullptr ? 2 : 0;
}

std::string Plural(std::size_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

void PrintSummary(const engine::RunReport& report, const std::string& saveProblem, const RecordTee* verbose) {
  // The first lines keep the form scripts already read.
  std::fprintf(stderr, "\nSummary: %d message(s) converted into %d data file(s).\n", report.messagesConverted,
               report.foldersConverted);
  for (const engine::WrittenStore& w : report.written) {
    std::fprintf(stderr, "  written: %s%s\n", w.target.c_str(),
                 w.renamed ? "  (the planned name was taken)" : "");
  }
  if (!saveProblem.empty()) std::fprintf(stderr, "  not written: %s\n", saveProblem.c_str());
  for (const engine::FailedStore& s : report.failedStores) {
    std::fprintf(stderr, "  data file not written: %s: %s\n",
                 s.target.empty() ? s.folderName.c_str() : s.target.c_str(), s.cause.c_str());
    if (s.messagesLost > 0) {
      std::fprintf(stderr, "    %s not saved: the data file could not be written\n",
                   Plural(s.messagesLost, "message", "messages").c_str());
    }
  }
  for (const engine::UnreadableFolder& f : report.unreadableFolders) {
    std::fprintf(stderr, "  folder not read: %s: %s (its files are not converted)\n", f.path.c_str(),
                 f.cause.c_str());
  }
  if (!report.failedFiles.empty()) std::fprintf(stderr, "  %zu file(s) failed:\n", report.failedFiles.size());
  for (const engine::FailedFile& f : report.failedFiles) {
    std::fprintf(stderr, "    %s: %s\n", f.path.c_str(), f.reason.c_str());
  }
  if (report.messagesEmpty > 0) {
    std::fprintf(stderr, "  %d file(s) empty (0 bytes), not converted\n", report.messagesEmpty);
  }
  for (const engine::LeftOutFolder& f : report.leftOut) {
    if (f.messagesLeft < 0) {
      std::fprintf(stderr, "  not begun (stopped): %s\n", f.path.c_str());
    } else {
      std::fprintf(stderr, "  %s: %s left out\n", f.path.c_str(),
                   Plural(static_cast<std::size_t>(f.messagesLeft), "message file", "message files").c_str());
    }
  }
  if (report.foldersSkipped > 0) {
    std::fprintf(stderr, "  %s skipped.\n",
                 Plural(report.foldersSkipped, "folder was", "folders were").c_str());
  }
  if (report.stopped) std::fprintf(stderr, "  stopped before the end.\n");
  if (verbose != nullptr) {
    // Every note, each file's with its full path; the run's own notes (a folded tree, a report
    // that could not be written) after them.
    std::vector<std::string> fileLeaves;
    for (const auto& [path, notes] : verbose->fileNotes()) {
      std::fprintf(stderr, "  note: %s: %s\n", path.c_str(), notes.c_str());
      fileLeaves.push_back(LeafOf(path) + ": ");
    }
    for (const std::string& note : report.notes) {
      const bool ofAFile = std::any_of(fileLeaves.begin(), fileLeaves.end(),
                                       [&note](const std::string& leaf) { return note.starts_with(leaf); });
      if (!ofAFile) std::fprintf(stderr, "  note: %s\n", note.c_str());
    }
    return;
  }
  // A tree folded at a thousand levels would give a thousand notes: the first few tell the story.
  constexpr std::size_t kNotesShown = 10;
  for (std::size_t i = 0; i < report.notes.size() && i < kNotesShown; ++i) {
    std::fprintf(stderr, "  note: %s\n", report.notes[i].c_str());
  }
  if (report.notes.size() > kNotesShown) {
    std::fprintf(stderr, "  and %zu more notes (see the report)\n", report.notes.size() - kNotesShown);
  }
}

// Refuses a target that cannot be written before any work: no name at all, or a folder for it
// that is not there.
std::string TargetProblem(const std::string& target) {
  if (target.empty()) return "the target is empty: name a .pst file or a folder to write it in";
  if (fs::IsDirectory(fs::SystemEnv(), target)) return std::string();
  const std::size_t slash = target.find_last_of('/');
  const std::string folder = slash == std::string::npos ? "." : target.substr(0, slash == 0 ? 1 : slash);
  if (!fs::IsDirectory(fs::SystemEnv(), folder))
    return "the folder \"" + folder + "\" of the target does not exist";
  if (slash + 1 == target.size()) return "the target \"" + target + "\" names no file";
  return std::string();
}

// "does not exist" or "is not a folder", for a source or output that cannot be used.
std::string FolderProblem(const char* what, const std::string& path) {
  fs::FileInfo info;
  if (path.empty()) return std::string("the ") + what + " is empty";
  if (fs::SystemEnv().Stat(path, true, &info) != 0) {
    return std::string("the ") + what + " \"" + path + "\" does not exist";
  }
  if (info.kind != fs::FileInfo::Kind::kDirectory)
    return std::string("the ") + what + " \"" + path + "\" is not a folder";
  return std::string();
}

}  // namespace

int main(int argc, char** argv) {
  if (quill::PrintVersionIfAsked(argc, argv)) return 0;
  cli::Options options;
  bool stats = false;
  bool verbose = false;
  std::string reportPath;
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--help" || a == "-h") return Usage(nullptr);
    if (a == "--multiple") {
      options.single = false;
    } else if (a == "--overwrite") {
      options.overwrite = true;
    } else if (a == "--stats") {
      stats = true;
    } else if (a == "--verbose" || a == "-v") {
      verbose = true;
    } else if (a == "--report") {
      if (i + 1 >= argc) return Usage("--report takes a file name");
      reportPath = argv[++i];
      if (reportPath.empty()) return Usage("--report takes a file name");
    } else if (a.size() > 1 && a[0] == '-' && a != "--") {
      return Usage(("unknown option " + a).c_str());
    } else {
      args.push_back(a);
    }
  }
  if (options.single) {
    if (args.size() != 2) return Usage("single mode takes SOURCE and TARGET");
    options.source = args[0];
    options.target = args[1];
    if (const std::string problem = FolderProblem("source folder", options.source); !problem.empty()) {
      std::fprintf(stderr, "quillsort-convert: %s\n", problem.c_str());
      return 1;
    }
    if (const std::string problem = TargetProblem(options.target); !problem.empty()) {
      std::fprintf(stderr, "quillsort-convert: %s\n", problem.c_str());
      return options.target.empty() ? 2 : 1;
    }
  } else {
    if (args.size() < 2) return Usage("multiple mode takes ROOT and OUTPUT");
    options.root = args[0];
    options.output = args[1];
    options.names.assign(args.begin() + 2, args.end());
    if (options.root.empty() || options.output.empty()) return Usage("ROOT and OUTPUT must not be empty");
    if (const std::string problem = FolderProblem("output folder", options.output); !problem.empty()) {
      std::fprintf(stderr, "quillsort-convert: %s\n", problem.c_str());
      return 1;
    }
  }

  engine::SharedState shared;
  cli::CliHost host(options, shared, stderr);
  if (!options.single) {
    std::string error;
    if (!host.LoadRows(error)) {
      std::fprintf(stderr, "quillsort-convert: %s\n", error.c_str());
      return 1;
    }
  }
  quill::ClearCancel();
  cli::CliHost::InstallSignalHandlers();
  auto service = pst::store::MakeStoreService();
  engine::Conversion conversion(shared, host, *service);
  engine::TsvReportFile reportFile;
  if (!reportPath.empty()) {
    if (quill::Status status = reportFile.Open(reportPath); !status.ok()) {
      std::fprintf(stderr, "quillsort-convert: the report cannot be written: %s\n", status.message().c_str());
      return 1;
    }
  }
  RecordTee records(reportPath.empty() ? nullptr : &reportFile, verbose);
  if (!reportPath.empty() || verbose) conversion.SetFileReport(&records);
  const auto start = std::chrono::steady_clock::now();
  conversion.StartConversion_Click();
  host.EndStretch();
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

  const engine::RunReport& report = conversion.Report();
  PrintSummary(report, host.saveProblem(), verbose ? &records : nullptr);
  bool reportWritten = true;
  if (!reportPath.empty()) {
    if (quill::Status status = reportFile.Close(); !status.ok()) {
      std::fprintf(stderr, "  %s\n", status.message().c_str());
      reportWritten = false;
    } else {
      std::fprintf(stderr, "  report: %s\n", reportPath.c_str());
    }
  }
  if (stats) {
    std::fprintf(stderr, "  %.2f s, %.0f messages/s, longest stretch without a yield %.1f ms\n", seconds,
                 report.messagesConverted / std::max(seconds, 1e-9), host.longestStretchMs());
  }
  const bool nothingWritten = options.single && report.written.empty() && !host.saveProblem().empty();
  return report.Clean() && !nothingWritten && reportWritten ? 0 : 1;
}
