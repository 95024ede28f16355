// The multiple-folders page: the user picks a root folder, ticks any of its immediate subfolders
// (one row each in `lv`), names an output folder and starts the conversion, which writes one data
// file per ticked row. The rows and the output folder box are what the conversion reads.
#pragma once

#include <QWidget>
#include <string>
#include <vector>

#include "common/status.h"
#include "engine/host.h"

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTreeWidget;

namespace ui {

class HelpLink;
class Wizard;

// One immediate subfolder of a root folder, named as the file system names it.
struct Subfolder {
  std::string name;
  std::string path;  // the root, one separator, the name
};

// Lists the immediate subfolders of `root` (hidden ones and links to folders too), sorted by
// name for reading. Fails, listing nothing, when the folder cannot be opened or read to its end.
quill::Result<std::vector<Subfolder>> ListSubfolders(const std::string& root);

// The user's desktop folder, where the output goes unless the user picks another folder; the home
// folder when there is no desktop folder (as on many machines without a desktop session).
QString SpecialFolderPath();

class frmMultiple final : public QWidget {
  Q_OBJECT

 public:
  explicit frmMultiple(Wizard& wizard);

  QLabel* Label3;
  QPushButton* CmdAddFolder;
  HelpLink* lblSelectRootFolder;
  QGroupBox* Frame1;
  QCheckBox* chkSelectAll;
  QTreeWidget* lv;
  QLabel* Label1;
  QLineEdit* txtOutputFolder;
  QPushButton* cmdChange;
  QPushButton* cmdBack;
  QPushButton* CmdNext;

  void CmdAddFolder_Click();
  void chkSelectAll_Click();
  void cmdChange_Click();
  void cmdBack_Click();
  void CmdNext_Click();
  void lblSelectRootFolder_Click();

  // What the conversion reads; rows are numbered from 1.
  std::int32_t RowCount() const;
  engine::FolderRow Row(std::int32_t index) const;
  // Shows what became of a row's folder: green and bold only when its data file was written.
  void MarkRow(std::int32_t index, engine::RowState state);
  // Every row back to its plain look, as a new run starts.
  void ResetRowLooks();
  std::string OutputFolder() const;

  // Narrows the page to at most `width` pixels (not below 560) for a screen too narrow for its
  // full width: the list, its path column and the output folder box give up the room, and the
  // controls at the right edge move with it.
  void FitWidth(int width);

  // While a run is active the page starts nothing and keeps its list.
  void SetRunning(bool running);

 protected:
  // The start page is hidden while this page is in use; closing this page brings it back, so
  // the program never goes on without a window.
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void FillList(const std::vector<Subfolder>& folders);

  Wizard& wizard_;
  bool running_ = false;
  bool selectAllUsable_ = false;  // Select All's state before the run
};

}  // namespace ui
