// quillsort-convert: the conversion engine without windows.
//
//   quillsort-convert [--overwrite] SOURCE TARGET.pst
//   quillsort-convert --multiple ROOT OUTPUT [NAME...]
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "cli/cli_host.h"
#include "common/version.h"
#include "engine/conversion.h"
#include "pst/store/store_service.h"

namespace {

constexpr const char* kUsage =
    "usage: quillsort-convert [--overwrite] [--stats] SOURCE TARGET.pst\n"
    "       quillsort-convert --multiple [--stats] ROOT OUTPUT [NAME...]\n"
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
    "--stats prints the run's time, messages per second and the longest stretch without a yield.\n"

    "\n"
    "Ctrl-C stops after the current message (the data file keeps what was converted so far);\n"
    "SIGUSR1 skips the rest of the current folder. Exit status: 0 when every message of every\n"
    "folder was converted, 1 when anything failed or was stopped, 2 for wrong arguments.\n"
    "\n"
    "--help prints this text, --version the program's version.\n";

bool IsFolder(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

int Usage(const char* problem) {
  if (problem != nullptr) std::fprintf(stderr, "quillsort-convert: %s\n\n", problem);
  std::fputs(kUsage, problem != nullptr ? stderr : stdout);
  return problem != nullptr ? 2 : 0;
}

void PrintSummary(const engine::RunReport& report, const std::string& saveProblem) {
  std::fprintf(stderr, "\nSummary: %d message(s) converted into %d data file(s).\n", report.messagesConverted,
               report.foldersConverted);
  for (const engine::WrittenStore& w : report.written) {
    std::fprintf(stderr, "  written: %s%s\n", w.target.c_str(), w.renamed ? "  (the planned name was taken)" : "");
  }
  if (!saveProblem.empty()) std::fprintf(stderr, "  not written: %s\n", saveProblem.c_str());
  for (const engine::FailedStore& s : report.failedStores) {
    std::fprintf(stderr, "  data file failed: %s: %s\n", s.target.empty() ? s.folderName.c_str() : s.target.c_str(),
                 s.cause.c_str());
  }
  if (!report.failedFiles.empty()) std::fprintf(stderr, "  %zu file(s) failed:\n", report.failedFiles.size());
  for (const engine::FailedFile& f : report.failedFiles) {
    std::fprintf(stderr, "    %s: %s\n", f.path.c_str(), f.reason.c_str());
  }
  if (report.foldersSkipped > 0) std::fprintf(stderr, "  %d folder(s) skipped.\n", report.foldersSkipped);
  if (report.stopped) std::fprintf(stderr, "  stopped before the end.\n");
}

}  // namespace

int main(int argc, char** argv) {
  if (quill::PrintVersionIfAsked(argc, argv)) return 0;
  cli::Options options;
  bool stats = false;
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
    if (!IsFolder(options.source)) {
      std::fprintf(stderr, "quillsort-convert: the source folder \"%s\" does not exist\n", options.source.c_str());
      return 1;
    }
  } else {
    if (args.size() < 2) return Usage("multiple mode takes ROOT and OUTPUT");
    options.root = args[0];
    options.output = args[1];
    options.names.assign(args.begin() + 2, args.end());
    if (!IsFolder(options.output)) {
      std::fprintf(stderr, "quillsort-convert: the output folder \"%s\" does not exist\n", options.output.c_str());
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
  cli::CliHost::InstallSignalHandlers();
  auto service = pst::store::MakeStoreService();
  engine::Conversion conversion(shared, host, *service);
  const auto start = std::chrono::steady_clock::now();
  conversion.StartConversion_Click();
  host.EndStretch();
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

  const engine::RunReport& report = conversion.Report();
  PrintSummary(report, host.saveProblem());
  if (stats) {
    std::fprintf(stderr, "  %.2f s, %.0f messages/s, longest stretch without a yield %.1f ms\n", seconds,
                 report.messagesConverted / std::max(seconds, 1e-9), host.longestStretchMs());
  }
  const bool nothingWritten = options.single && report.written.empty() && !host.saveProblem().empty();
  return report.Clean() && !nothingWritten ? 0 : 1;
}
