// Dialogs answered by a script instead of a person, for the tests and the screenshot tool: folder
// picks and Save answers come from queues, message boxes are recorded and answered by title.
#pragma once

#include <QString>
#include <QStringList>
#include <deque>
#include <functional>
#include <map>
#include <vector>

#include "ui/dialogs.h"

namespace ui::testing {

struct ShownBox {
  QString text;
  engine::MsgBoxStyle style;
  QString title;
  QString owner;   // the owner window's object name
  QString action;  // the caption of the box's second button, if it has one
};

class ScriptedDialogs : public Dialogs {
 public:
  QString BrowseForFolder(QWidget* owner, const QString& title) override;
  void OpenInShell(const QString& target) override;
  engine::MsgBoxResult MsgBox(QWidget* owner, const QString& text, engine::MsgBoxStyle style,
                              const QString& title) override;
  engine::SaveChoice SaveFile(QWidget* owner, const QString& filter, const QString& proposedName) override;
  bool MsgBoxWithAction(QWidget* owner, const QString& text, const QString& title,
                        const QString& action) override;

  // Answers.
  std::deque<QString> folders;                                  // folder picks in order; cancel when empty
  std::map<QString, std::deque<engine::MsgBoxResult>> answers;  // by title; No when none left
  QString saveFolder;                                           // Save answers saveFolder + "/" + proposal
  bool cancelSave = false;
  bool chooseAction = false;                   // boxes with an action: choose it
  std::function<void(const ShownBox&)> onBox;  // runs as a box is shown (screenshots)

  // What happened.
  QStringList pickerTitles;
  QStringList opened;
  std::vector<ShownBox> boxes;
  QStringList proposedNames;
  QStringList saveFilters;

  // The titles of the boxes shown, in order.
  QStringList BoxTitles() const;
};

}  // namespace ui::testing
