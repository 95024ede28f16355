// A host for the engine's tests: pages and dialogs answered by the test, message boxes recorded
// and answered from a script, and the progress window's texts recorded whenever the engine lets
// the window show them (at every yield and message box).
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "engine/host.h"

namespace engine::testing {

struct ShownBox {
  std::string text;
  MsgBoxStyle style;
  std::string title;
};

class RecordingHost : public Host {
 public:
  RecordingHost();

  void Yield() override;
  bool OptSingle() override { return single; }
  std::string txtSourceMailbox() override { return source; }
  std::int32_t lvRowCount() override { return static_cast<std::int32_t>(rows.size()); }
  FolderRow lvRow(std::int32_t index) override { return rows.at(index - 1); }
  void lvMarkRow(std::int32_t index, RowState state) override {
    if (state == RowState::kConverting) marked.push_back(index);
    rowStates[index] = state;
  }
  std::string txtOutputFolder() override { return outputFolder; }
  SaveChoice cdlgFileShowSave(const std::string& filter, const std::string& fileName) override;
  void UnloadSinglePage() override { ++unloads; }
  MsgBoxResult MsgBox(const std::string& text, MsgBoxStyle style, const std::string& title) override;
  ProgressControls& Progress() override { return progress; }
  std::tm Now() override { return now; }

  // Inputs.
  bool single = true;
  std::string source;
  std::vector<FolderRow> rows;
  std::string outputFolder;
  std::string saveFolder;  // the Save dialog answers saveFolder + "/" + proposed name
  bool cancelSave = false;
  std::deque<MsgBoxResult> answers;  // for Yes/No boxes, in order; No when empty
  std::function<void(int yieldNumber)> onYield;
  std::tm now{};

  // What happened.
  ProgressControls progress;
  std::vector<ShownBox> boxes;
  std::vector<std::string> proposedNames;
  std::vector<std::int32_t> marked;            // rows the driver came to, in order
  std::map<std::int32_t, RowState> rowStates;  // each row's last look
  std::vector<std::string> percentages;        // lblProgress, each distinct text once in a row
  std::vector<std::string> frames;             // FrameConversion, likewise
  std::vector<std::string> captions;           // the window title, likewise
  int yields = 0;
  int unloads = 0;

 private:
  void Record();
};

}  // namespace engine::testing
