// The progress window: shows what the engine writes into engine::ProgressControls and carries the
// user's three controls over a run. Skip and Stop only set the shared flags; the engine asks for
// confirmation when it next looks at them.
#pragma once

#include <QWidget>

#include "engine/host.h"

class QLabel;
class QProgressBar;
class QPushButton;

namespace ui {

class Wizard;

class frmMigateAll final : public QWidget {
  Q_OBJECT

 public:
  explicit frmMigateAll(Wizard& wizard);

  QLabel* lblCount1;
  QPushButton* CmdSkip;
  QLabel* lblProgress;
  QProgressBar* ProgressBar1;
  QPushButton* CmdStopMigration;
  QLabel* FrameConversion;
  QLabel* LblCurrentDBX;
  QPushButton* CmdLocate;

  // Prepares the window for a run: empties the path lists, clears the flags, and puts the
  // initial texts and button states into the engine's controls and on screen.
  void Form_Load();
  // Shows `controls` on the widgets. Never shows or hides the window itself.
  void Sync(const engine::ProgressControls& controls);

  void CmdSkip_Click();
  void CmdStopMigration_Click();
  void CmdLocate_Click();

  // The folder Open Folder opens: in single mode the data file's folder with its final separator
  // (empty when there is no data file yet), in multiple mode the output folder box as typed.
  QString LocateTarget();

 protected:
  // Asks before closing. A close confirmed during a run stops it: the user has already said yes,
  // so the engine does not ask again, and the data file keeps what was converted.
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  Wizard& wizard_;
};

}  // namespace ui
