// The single-folder page: the user picks one source folder and starts the conversion. The page
// also owns the conversion (the driver and the per-folder conversion with their working state),
// which multiple mode runs on a hidden page object.
#pragma once

#include <QWidget>
#include <string>

#include "engine/conversion.h"

class QLineEdit;
class QPushButton;

namespace ui {

class HelpLink;
class Wizard;

class frmSingle final : public QWidget {
  Q_OBJECT

 public:
  frmSingle(Wizard& wizard, engine::StoreService& service);

  HelpLink* lblSingleMailbox;
  QLineEdit* txtSourceMailbox;
  QPushButton* CmdAddFolder;
  QPushButton* CmdNext;

  void CmdAddFolder_Click();
  void lblSingleMailbox_Click();
  // Shows the progress window and runs the conversion; returns when the run has finished.
  void CmdNext_Click();

  engine::Conversion& conversion() { return conversion_; }

  // The source folder as the file system names it (the box shows it decoded for reading).
  std::string SourcePath() const { return sourcePath_; }

  // Closes the page as if it were unloaded: hidden, and empty when it is shown again.
  void Unload();
  // While a run is active Next starts nothing.
  void SetRunning(bool running);

 protected:
  // During a run the page stays: the progress window and the run belong to it.
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void UpdateNext();

  Wizard& wizard_;
  engine::Conversion conversion_;
  std::string sourcePath_;
  bool running_ = false;
};

}  // namespace ui
