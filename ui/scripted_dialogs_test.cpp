#include "ui/scripted_dialogs_test.h"

#include <QWidget>

namespace ui::testing {

QString ScriptedDialogs::BrowseForFolder(QWidget*, const QString& title) {
  pickerTitles << title;
  if (folders.empty()) return QString();
  const QString folder = folders.front();
  folders.pop_front();
  return folder;
}

void ScriptedDialogs::OpenInShell(const QString& target) {
  // The real service ignores an empty target; so does this record.
  if (!target.isEmpty()) opened << target;
}

engine::MsgBoxResult ScriptedDialogs::MsgBox(QWidget* owner, const QString& text, engine::MsgBoxStyle style,
                                             const QString& title) {
  ShownBox box{text, style, title, owner != nullptr ? owner->objectName() : QString()};
  boxes.push_back(box);
  if (onBox) onBox(box);
  if (style == engine::MsgBoxStyle::kInformationOk) return engine::MsgBoxResult::kOk;
  auto it = answers.find(title);
  if (it == answers.end() || it->second.empty()) return engine::MsgBoxResult::kNo;
  const engine::MsgBoxResult answer = it->second.front();
  it->second.pop_front();
  return answer;
}

bool ScriptedDialogs::MsgBoxWithAction(QWidget* owner, const QString& text, const QString& title,
                                       const QString& action) {
  ShownBox box{text, engine::MsgBoxStyle::kInformationOk, title,
               owner != nullptr ? owner->objectName() : QString(), action};
  boxes.push_back(box);
  if (onBox) onBox(box);
  return chooseAction;
}

engine::SaveChoice ScriptedDialogs::SaveFile(QWidget*, const QString& filter, const QString& proposedName) {
  proposedNames << proposedName;
  saveFilters << filter;
  if (cancelSave) return engine::SaveChoice{};
  return engine::SaveChoice{true, (saveFolder + "/" + proposedName).toStdString()};
}

QStringList ScriptedDialogs::BoxTitles() const {
  QStringList titles;
  for (const ShownBox& box : boxes) titles << box.title;
  return titles;
}

}  // namespace ui::testing
