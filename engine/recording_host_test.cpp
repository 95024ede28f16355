#include "engine/recording_host_test.h"

namespace engine::testing {
namespace {

void AddIfNew(std::vector<std::string>& list, const std::string& text) {
  if (!text.empty() && (list.empty() || list.back() != text)) list.push_back(text);
}

}  // namespace

RecordingHost::RecordingHost() {
  // 7 December 2026, 01:34:05.
  now.tm_year = 126;
  now.tm_mon = 11;
  now.tm_mday = 7;
  now.tm_hour = 1;
  now.tm_min = 34;
  now.tm_sec = 5;
}

void RecordingHost::Record() {
  AddIfNew(percentages, progress.lblProgress);
  AddIfNew(frames, progress.FrameConversion);
  AddIfNew(captions, progress.Caption);
}

void RecordingHost::Yield() {
  ++yields;
  Record();
  if (onYield) onYield(yields);
}

SaveChoice RecordingHost::cdlgFileShowSave(const std::string& filter, const std::string& fileName) {
  proposedNames.push_back(fileName);
  if (filter != "Outlook Data File(s) (*.pst)|*.pst" || cancelSave) return SaveChoice{};
  return SaveChoice{true, saveFolder + "/" + fileName};
}

MsgBoxResult RecordingHost::MsgBox(const std::string& text, MsgBoxStyle style, const std::string& title) {
  Record();
  boxes.push_back({text, style, title});
  if (style == MsgBoxStyle::kInformationOk) return MsgBoxResult::kOk;
  if (answers.empty()) return MsgBoxResult::kNo;
  const MsgBoxResult answer = answers.front();
  answers.pop_front();
  return answer;
}

}  // namespace engine::testing
