// The modal questions the wizard asks: folder pickers, the Save dialog, message boxes, and the
// shell's "open". The windows ask them only through this interface, so that tests answer them
// instead of a person; ShellDialogs is the real thing.
#pragma once

#include <QString>

#include "engine/host.h"

class QWidget;

namespace ui {

class Dialogs {
 public:
  virtual ~Dialogs() = default;

  // The folder picker: the chosen folder, or empty when cancelled.
  virtual QString BrowseForFolder(QWidget* owner, const QString& title) = 0;
  // Opens a web page or a folder; an empty target does nothing.
  virtual void OpenInShell(const QString& target) = 0;
  // A message box; lines in `text` are separated by "\n".
  virtual engine::MsgBoxResult MsgBox(QWidget* owner, const QString& text, engine::MsgBoxStyle style,
                                      const QString& title) = 0;
  // The Save dialog for a data file: `filter` in the form "Description|*.ext", `proposedName` a
  // file name. Asks before an existing file would be replaced.
  virtual engine::SaveChoice SaveFile(QWidget* owner, const QString& filter, const QString& proposedName) = 0;
  // An information box with OK and a second button captioned `action`; true when the user chose
  // the action.
  virtual bool MsgBoxWithAction(QWidget* owner, const QString& text, const QString& title,
                                const QString& action) = 0;
};

// The desktop's own dialogs and shell.
class ShellDialogs : public Dialogs {
 public:
  QString BrowseForFolder(QWidget* owner, const QString& title) override;
  void OpenInShell(const QString& target) override;
  engine::MsgBoxResult MsgBox(QWidget* owner, const QString& text, engine::MsgBoxStyle style,
                              const QString& title) override;
  engine::SaveChoice SaveFile(QWidget* owner, const QString& filter, const QString& proposedName) override;
  bool MsgBoxWithAction(QWidget* owner, const QString& text, const QString& title,
                        const QString& action) override;
};

// "Outlook Data File(s) (*.pst)|*.pst" becomes Qt's "Outlook Data File(s) (*.pst)"; pairs beyond
// the first become further filters.
QString QtFilter(const QString& filter);

}  // namespace ui
