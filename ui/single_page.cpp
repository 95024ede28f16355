#include "ui/single_page.h"

#include <QCloseEvent>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "ui/look.h"
#include "ui/shell_services.h"
#include "ui/wizard.h"

namespace ui {

frmSingle::frmSingle(Wizard& wizard, engine::StoreService& service)
    : QWidget(nullptr), wizard_(wizard), conversion_(wizard.Shared(), wizard, service) {
  // A data file missing anything gets the report of its files beside it, named in the last box.
  conversion_.SetReportsBesideStores(true);
  setObjectName(QStringLiteral("frmSingle"));
  setWindowTitle(QStringLiteral("Single Folder Mode"));
  setWindowIcon(AppIcon());
  SetWindowKind(this, WindowKind::kDialog);
  setFixedSize(514, 146);

  new Band(this, QRect(-8, 104, 713, 57));

  auto* icon = new QLabel(this);
  icon->setObjectName(QStringLiteral("imgIcon"));
  icon->setPixmap(FolderIcon());
  Place(icon, 8, 29, 16, 16);

  auto* instruction = new QLabel(QStringLiteral("Select folder having all .eml/.emlx message files"), this);
  instruction->setObjectName(QStringLiteral("lblInstruction"));
  instruction->setFont(VerdanaFont(9));
  Place(instruction, 32, 29, 361, 24);
  instruction->setAlignment(Qt::AlignLeft | Qt::AlignTop);

  lblSingleMailbox = new HelpLink(this, QStringLiteral("lblSingleMailbox"), QStringLiteral("Online Help"));
  Place(lblSingleMailbox, 400, 31, 33, 16);

  txtSourceMailbox = new QLineEdit(this);
  txtSourceMailbox->setObjectName(QStringLiteral("txtSourceMailbox"));
  txtSourceMailbox->setFont(TahomaFont(9));
  // The folder comes from the picker, so that Next always gets a folder that was really there.
  txtSourceMailbox->setReadOnly(true);
  Place(txtSourceMailbox, 8, 56, 377, 27);

  CmdAddFolder = new QPushButton(QStringLiteral("Select..."), this);
  CmdAddFolder->setObjectName(QStringLiteral("CmdAddFolder"));
  CmdAddFolder->setFont(VerdanaFont(9));
  Place(CmdAddFolder, 392, 56, 105, 26);

  CmdNext = new QPushButton(QStringLiteral("&Next >"), this);
  CmdNext->setObjectName(QStringLiteral("CmdNext"));
  CmdNext->setFont(VerdanaFont(9));
  Place(CmdNext, 384, 112, 113, 26);
  CmdNext->setEnabled(false);
  CmdNext->setDefault(true);

  setTabOrder(lblSingleMailbox, txtSourceMailbox);
  setTabOrder(txtSourceMailbox, CmdAddFolder);
  setTabOrder(CmdAddFolder, CmdNext);
  // The box only shows the choice; the keyboard starts on the button that makes it.
  CmdAddFolder->setFocus();

  connect(CmdAddFolder, &QPushButton::clicked, this, &frmSingle::CmdAddFolder_Click);
  connect(lblSingleMailbox, &HelpLink::clicked, this, &frmSingle::lblSingleMailbox_Click);
  connect(CmdNext, &QPushButton::clicked, this, &frmSingle::CmdNext_Click);
}

void frmSingle::CmdAddFolder_Click() {
  const QString folder = wizard_.dialogs().BrowseForFolder(this, QStringLiteral("Choose Source Folder..."));
  if (folder.isEmpty()) return;
  sourcePath_ = QFile::encodeName(folder).toStdString();
  txtSourceMailbox->setText(folder);
  UpdateNext();
  CmdNext->setFocus();
}

void frmSingle::lblSingleMailbox_Click() {
  wizard_.dialogs().OpenInShell(HelpUrl(QStringLiteral("/h/quillsort/"), QStringLiteral("#select-folder")));
}

void frmSingle::CmdNext_Click() {
  if (sourcePath_.empty() || running_) return;
  wizard_.RunConversion(this);
}

void frmSingle::Unload() {
  hide();
  sourcePath_.clear();
  txtSourceMailbox->clear();
  UpdateNext();
}

void frmSingle::SetRunning(bool running) {
  running_ = running;
  UpdateNext();
}

void frmSingle::closeEvent(QCloseEvent* event) {
  if (running_ && !wizard_.Exiting()) {
    event->ignore();
    return;
  }
  event->accept();
}

void frmSingle::keyPressEvent(QKeyEvent* event) {
  if (!HandleWindowKeys(this, event, CmdNext)) QWidget::keyPressEvent(event);
}

void frmSingle::UpdateNext() { CmdNext->setEnabled(!running_ && !sourcePath_.empty()); }

}  // namespace ui
