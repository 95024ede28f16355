// The start page: the program's main window. The user picks single or multiple mode; Next opens
// that mode's page; the help links and the guide button open the shipped help; closing the page
// (after a yes) ends the program.
#pragma once

#include <QWidget>

class QLabel;
class QPushButton;
class QRadioButton;

namespace ui {

class HelpLink;
class Wizard;

class frmStart final : public QWidget {
  Q_OBJECT

 public:
  explicit frmStart(Wizard& wizard);

  QLabel* lblTitle;
  QRadioButton* OptSingle;
  QRadioButton* OptMultiple;
  HelpLink* lblSingleHelp;
  HelpLink* lblMultipleHelp;
  QPushButton* CmdHelp;
  QPushButton* CmdNext;

  void OptSingle_Click();
  void OptMultiple_Click();
  void lblSingleHelp_Click();
  void lblMultipleHelp_Click();
  void CmdHelp_Click();
  void CmdNext_Click();

 protected:
  // Asks before the program ends; a no keeps everything as it was.
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  Wizard& wizard_;
};

}  // namespace ui
