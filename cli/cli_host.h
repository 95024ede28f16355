// The engine's host on the command line: the source and target come from the arguments, the
// progress window is a line (or a bar on a terminal) on stderr, and signals stand in for the
// progress window's buttons: Ctrl-C (SIGINT or SIGTERM) stops the run after the current message,
// SIGUSR1 skips the rest of the current folder. Both count as already confirmed.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "engine/host.h"
#include "engine/shared_state.h"

namespace cli {

struct Options {
  bool single = true;
  std::string source;              // single mode: the source folder
  std::string target;              // single mode: the data file, or a folder for the proposed name
  bool overwrite = false;          // single mode: replace an existing target without asking
  std::string root;                // multiple mode: the folder whose subfolders are converted
  std::string output;              // multiple mode: the output folder
  std::vector<std::string> names;  // multiple mode: the subfolders to convert; empty for all
};

class CliHost : public engine::Host {
 public:
  CliHost(const Options& options, engine::SharedState& shared, std::FILE* out);

  // Installs the signal handlers; call once before the run.
  static void InstallSignalHandlers();

  void Yield() override;
  bool OptSingle() override { return options_.single; }
  std::string txtSourceMailbox() override { return options_.source; }
  std::int32_t lvRowCount() override { return static_cast<std::int32_t>(rows_.size()); }
  engine::FolderRow lvRow(std::int32_t index) override { return rows_.at(index - 1); }
  void lvMarkRow(std::int32_t index, engine::RowState state) override;
  std::string txtOutputFolder() override { return options_.output; }
  engine::SaveChoice cdlgFileShowSave(const std::string& filter, const std::string& fileName) override;
  void UnloadSinglePage() override {}
  engine::MsgBoxResult MsgBox(const std::string& text, engine::MsgBoxStyle style,
                              const std::string& title) override;
  engine::ProgressControls& Progress() override { return progress_; }
  std::tm Now() override;

  // Multiple mode: fills the rows from the root's subfolders. False, with `error` set, when the
  // root cannot be listed or a named folder is not there.
  bool LoadRows(std::string& error);

  // The first answer of the Save dialog that went wrong ("exists", a missing folder), for the end.
  const std::string& saveProblem() const { return saveProblem_; }

  // The longest time the engine ran without yielding, in milliseconds: how long a window would
  // have gone without repainting.
  double longestStretchMs() const { return longestStretchMs_; }
  // Ends the stretch that began at the last yield (a box opened, or the run is over); returns the
  // time now, in milliseconds.
  double EndStretch();

 private:
  void Draw(bool force);

  Options options_;
  engine::SharedState& shared_;
  std::FILE* out_;
  bool terminal_ = false;
  std::vector<engine::FolderRow> rows_;
  engine::ProgressControls progress_;
  std::string saveProblem_;
  long long lastDrawMs_ = 0;
  double lastYieldMs_ = -1;
  double longestStretchMs_ = 0;
  std::size_t lastWidth_ = 0;
};

}  // namespace cli
