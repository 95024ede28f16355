#include "ui/multiple_page.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStandardPaths>
#include <QTreeWidget>
#include <algorithm>
#include <filesystem>
#include <system_error>

#include "engine/output_check.h"
#include "engine/strings.h"
#include "ui/look.h"
#include "ui/shell_services.h"
#include "ui/wizard.h"

namespace ui {
namespace {

// Each row keeps the names as the file system gave them, which need not be valid UTF-8; the
// columns show them decoded.
constexpr int kRawRole = Qt::UserRole + 1;

QString Shown(const std::string& raw) { return QFile::decodeName(QByteArray::fromStdString(raw)); }

}  // namespace

quill::Result<std::vector<Subfolder>> ListSubfolders(const std::string& root) {
  namespace stdfs = std::filesystem;
  std::string prefix = root;
  if (prefix.empty() || prefix.back() != '/') prefix += '/';
  std::error_code error;
  stdfs::directory_iterator it(stdfs::path(root), error);
  if (error) return quill::Status::IOError(error.message());
  std::vector<Subfolder> folders;
  for (const stdfs::directory_iterator end; it != end; it.increment(error)) {
    std::error_code typeError;
    // A link to a folder counts as a folder, as the user sees it in the file manager.
    if (!it->is_directory(typeError)) continue;
    const std::string name = it->path().filename().native();
    folders.push_back({name, prefix + name});
  }
  if (error) return quill::Status::IOError(error.message());
  std::sort(folders.begin(), folders.end(), [](const Subfolder& a, const Subfolder& b) {
    const int order = QString::localeAwareCompare(Shown(a.name), Shown(b.name));
    return order != 0 ? order < 0 : a.name < b.name;
  });
  return folders;
}

QString SpecialFolderPath() {
  const QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
  return QFileInfo(desktop).isDir() ? desktop : QDir::homePath();
}

frmMultiple::frmMultiple(Wizard& wizard) : QWidget(nullptr), wizard_(wizard) {
  setObjectName(QStringLiteral("frmMultiple"));
  setWindowTitle(QStringLiteral("Multiple Folder Mode"));
  setWindowIcon(AppIcon());
  SetWindowKind(this, WindowKind::kMain);
  setFixedSize(706, 417);

  auto* shape = new Band(this, QRect(0, 376, 713, 57));
  shape->setObjectName(QStringLiteral("Shape1"));

  auto* image = new QLabel(this);
  image->setObjectName(QStringLiteral("Image1"));
  image->setPixmap(FolderIcon());
  Place(image, 16, 16, 16, 16);

  Label3 = new QLabel(
      QStringLiteral("Select top folder having all sub-folders inside it containing .eml/.emlx files"), this);
  Label3->setObjectName(QStringLiteral("Label3"));
  Label3->setFont(VerdanaFont(9));
  Label3->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  Place(Label3, 40, 16, 465, 24);

  CmdAddFolder = new QPushButton(QStringLiteral("Select..."), this);
  CmdAddFolder->setObjectName(QStringLiteral("CmdAddFolder"));
  CmdAddFolder->setFont(VerdanaFont(9));
  Place(CmdAddFolder, 520, 11, 97, 26);

  lblSelectRootFolder =
      new HelpLink(this, QStringLiteral("lblSelectRootFolder"), QStringLiteral("Click to Know More..."));
  Place(lblSelectRootFolder, 624, 16, 33, 16);

  Frame1 = new QGroupBox(QStringLiteral(" Select Folders"), this);
  Frame1->setObjectName(QStringLiteral("Frame1"));
  Frame1->setFont(VerdanaFont(9, true));
  Place(Frame1, 16, 48, 673, 273);

  chkSelectAll = new QCheckBox(QStringLiteral("Select All"), Frame1);
  chkSelectAll->setObjectName(QStringLiteral("chkSelectAll"));
  chkSelectAll->setFont(VerdanaFont(9));
  Place(chkSelectAll, 23, 24, 201, 17);

  lv = new QTreeWidget(Frame1);
  lv->setObjectName(QStringLiteral("lv"));
  lv->setFont(TahomaFont(9));
  Place(lv, 16, 48, 641, 209);
  lv->setColumnCount(2);
  lv->setHeaderLabels({QStringLiteral("User"), QStringLiteral("Mailbox Folder")});
  lv->header()->setFont(TahomaFont(9));
  lv->header()->setStretchLastSection(false);
  lv->setColumnWidth(0, 200);
  lv->setColumnWidth(1, 440);
  // The two columns span the list; the list's frame would otherwise cost a scroll bar for a pixel.
  lv->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  lv->setRootIsDecorated(false);
  lv->setItemsExpandable(false);
  lv->setUniformRowHeights(true);
  lv->setAllColumnsShowFocus(true);
  lv->setSelectionMode(QAbstractItemView::SingleSelection);
  lv->setSelectionBehavior(QAbstractItemView::SelectRows);
  // The row's text names the data file, so it is never edited in place.
  lv->setEditTriggers(QAbstractItemView::NoEditTriggers);
  lv->setAlternatingRowColors(true);
  QPalette rows = lv->palette();
  rows.setColor(QPalette::Base, Qt::white);
  rows.setColor(QPalette::AlternateBase, kLightYellow);
  lv->setPalette(rows);

  Label1 = new QLabel(QStringLiteral("Output Folder:"), this);
  Label1->setObjectName(QStringLiteral("Label1"));
  Label1->setFont(VerdanaFont(9));
  Label1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  Place(Label1, 16, 336, 105, 23);

  txtOutputFolder = new QLineEdit(this);
  txtOutputFolder->setObjectName(QStringLiteral("txtOutputFolder"));
  txtOutputFolder->setFont(TahomaFont(9));
  Place(txtOutputFolder, 112, 328, 481, 27);

  cmdChange = new QPushButton(QStringLiteral("Change..."), this);
  cmdChange->setObjectName(QStringLiteral("cmdChange"));
  cmdChange->setFont(VerdanaFont(9));
  Place(cmdChange, 600, 328, 89, 26);

  cmdBack = new QPushButton(QStringLiteral("< Bac&k"), this);
  cmdBack->setObjectName(QStringLiteral("cmdBack"));
  cmdBack->setFont(VerdanaFont(9));
  Place(cmdBack, 472, 384, 89, 26);

  CmdNext = new QPushButton(QStringLiteral("&Next >"), this);
  CmdNext->setObjectName(QStringLiteral("CmdNext"));
  CmdNext->setFont(VerdanaFont(9));
  Place(CmdNext, 576, 384, 113, 26);
  CmdNext->setDefault(true);

  setTabOrder(CmdAddFolder, lblSelectRootFolder);
  setTabOrder(lblSelectRootFolder, chkSelectAll);
  setTabOrder(chkSelectAll, lv);
  setTabOrder(lv, txtOutputFolder);
  setTabOrder(txtOutputFolder, cmdChange);
  setTabOrder(cmdChange, cmdBack);
  setTabOrder(cmdBack, CmdNext);

  // Loading: the desktop as the output folder, an empty list, Select All off until it is filled.
  txtOutputFolder->setText(SpecialFolderPath());
  chkSelectAll->setChecked(false);
  chkSelectAll->setEnabled(false);

  connect(CmdAddFolder, &QPushButton::clicked, this, &frmMultiple::CmdAddFolder_Click);
  // The rule runs on every change of the box's value, also when the page itself unticks it.
  connect(chkSelectAll, &QCheckBox::toggled, this, &frmMultiple::chkSelectAll_Click);
  connect(cmdChange, &QPushButton::clicked, this, &frmMultiple::cmdChange_Click);
  connect(cmdBack, &QPushButton::clicked, this, &frmMultiple::cmdBack_Click);
  connect(CmdNext, &QPushButton::clicked, this, &frmMultiple::CmdNext_Click);
  connect(lblSelectRootFolder, &HelpLink::clicked, this, &frmMultiple::lblSelectRootFolder_Click);
}

void frmMultiple::CmdAddFolder_Click() {
  const QString chosen = wizard_.dialogs().BrowseForFolder(this, QStringLiteral("Choose Source Folder..."));
  if (chosen.isEmpty()) return;
  const std::string root = QFile::encodeName(chosen).toStdString();
  auto folders = ListSubfolders(root);
  if (!folders.ok()) {
    // Nothing is emptied before the listing has succeeded, so the rows and their ticks stay.
    wizard_.Ask(
        this,
        QStringLiteral("The folder \"%1\" cannot be listed:\n%2\n\nThe list of folders has not been changed.")
            .arg(chosen, QString::fromStdString(folders.status().message())),
        engine::MsgBoxStyle::kInformationOk, QStringLiteral("Choose Source Folder..."));
    return;
  }
  FillList(folders.value());
  chkSelectAll->setChecked(false);
  chkSelectAll->setEnabled(true);
}

void frmMultiple::FillList(const std::vector<Subfolder>& folders) {
  lv->clear();
  for (const Subfolder& folder : folders) {
    // Keeps the window painting while a large root folder is listed.
    QCoreApplication::processEvents();
    auto* item = new QTreeWidgetItem(lv);
    item->setFlags((item->flags() | Qt::ItemIsUserCheckable) & ~Qt::ItemIsEditable);
    item->setCheckState(0, Qt::Unchecked);
    item->setText(0, Shown(folder.name));
    item->setData(0, kRawRole, QByteArray::fromStdString(folder.name));
    item->setIcon(0, MailboxIcon());
    item->setText(1, Shown(folder.path));
    item->setData(1, kRawRole, QByteArray::fromStdString(folder.path));
    item->setIcon(1, FolderIcon());
    item->setToolTip(1, Shown(folder.path));
  }
}

void frmMultiple::chkSelectAll_Click() {
  const bool tick = chkSelectAll->isChecked();
  // The caption changes row by row, so an empty list keeps the caption it had.
  for (int i = 0; i < lv->topLevelItemCount(); ++i) {
    QCoreApplication::processEvents();
    if (QTreeWidgetItem* item = lv->topLevelItem(i))
      item->setCheckState(0, tick ? Qt::Checked : Qt::Unchecked);
    chkSelectAll->setText(tick ? QStringLiteral("Deselect All") : QStringLiteral("Select All"));
  }
}

void frmMultiple::cmdChange_Click() {
  const QString chosen = wizard_.dialogs().BrowseForFolder(this, QStringLiteral("Choose Output Folder..."));
  if (!chosen.isEmpty()) txtOutputFolder->setText(chosen);
}

void frmMultiple::cmdBack_Click() {
  wizard_.ShowStartPage();
  hide();
}

void frmMultiple::CmdNext_Click() {
  if (wizard_.Running()) return;
  bool anyTicked = false;
  for (int i = 0; i < lv->topLevelItemCount() && !anyTicked; ++i) {
    QCoreApplication::processEvents();
    anyTicked = lv->topLevelItem(i)->checkState(0) == Qt::Checked;
  }
  if (!anyTicked) {
    wizard_.Ask(this, QStringLiteral("No Folders Selected !\r\nPlease Select alteast one folder to convert."),
                engine::MsgBoxStyle::kInformationOk, QStringLiteral("Select Folder(s) to Convert"));
    return;
  }
  // The output folder must take the data files before any folder is collected; they need about
  // as much room as the ticked folders take.
  CmdNext->setEnabled(false);
  std::uint64_t needed = 0;
  for (int i = 1; i <= RowCount(); ++i) {
    const engine::FolderRow row = Row(i);
    if (row.Checked) needed += engine::TreeBytes(row.SubItem, [] { QCoreApplication::processEvents(); });
  }
  CmdNext->setEnabled(!wizard_.Running());
  const quill::Status usable = engine::CheckOutputFolder(engine::TrimSpaces(OutputFolder()), needed);
  if (!usable.ok()) {
    wizard_.Ask(this, QString::fromStdString(usable.message()), engine::MsgBoxStyle::kInformationOk,
                QString::fromUtf8(kOutputFolderTitle));
    return;
  }
  if (wizard_.Running()) return;
  wizard_.RunConversion(this);
}

void frmMultiple::lblSelectRootFolder_Click() {
  wizard_.dialogs().OpenInShell(
      HelpUrl(QStringLiteral("/h/quillsort/"), QStringLiteral("#select-root-folder")));
}

std::int32_t frmMultiple::RowCount() const { return lv->topLevelItemCount(); }

engine::FolderRow frmMultiple::Row(std::int32_t index) const {
  engine::FolderRow row;
  const QTreeWidgetItem* item = index >= 1 ? lv->topLevelItem(index - 1) : nullptr;
  if (item == nullptr) return row;
  row.Checked = item->checkState(0) == Qt::Checked;
  row.Text = item->data(0, kRawRole).toByteArray().toStdString();
  row.SubItem = item->data(1, kRawRole).toByteArray().toStdString();
  return row;
}

void frmMultiple::MarkRow(std::int32_t index, engine::RowState state) {
  QTreeWidgetItem* item = index >= 1 ? lv->topLevelItem(index - 1) : nullptr;
  if (item == nullptr) return;
  QBrush colour;  // none: the list's own text colour
  bool bold = true;
  QString note;
  switch (state) {
    case engine::RowState::kConverting:
      note = QStringLiteral("Converting...");
      break;
    case engine::RowState::kConverted:
      colour = kConvertedGreen;
      note = QStringLiteral("Converted");
      break;
    case engine::RowState::kNoMail:
      colour = kGrey;
      bold = false;
      note = QStringLiteral("No .eml or .emlx files were found in this folder; no data file was written.");
      break;
    case engine::RowState::kFailed:
      colour = kFailedRed;
      note = QStringLiteral("Not converted: its data file could not be written.");
      break;
    case engine::RowState::kStopped:
      colour = kStoppedBrown;
      note = QStringLiteral("Stopped: not all of its messages were converted.");
      break;
  }
  for (int column = 0; column < 2; ++column) {
    item->setData(column, Qt::ForegroundRole, colour.style() == Qt::NoBrush ? QVariant() : QVariant(colour));
    item->setFont(column, TahomaFont(9, bold));
  }
  item->setToolTip(0, note);
}

void frmMultiple::FitWidth(int width) {
  const int full = 706;
  const int target = std::clamp(width, 560, full);
  const int cut = this->width() - target;
  if (cut == 0) return;
  for (QWidget* right :
       {static_cast<QWidget*>(CmdAddFolder), static_cast<QWidget*>(lblSelectRootFolder),
        static_cast<QWidget*>(cmdChange), static_cast<QWidget*>(cmdBack), static_cast<QWidget*>(CmdNext)}) {
    right->move(right->x() - cut, right->y());
  }
  for (QWidget* wide : {static_cast<QWidget*>(Label3), static_cast<QWidget*>(Frame1),
                        static_cast<QWidget*>(lv), static_cast<QWidget*>(txtOutputFolder)}) {
    wide->resize(wide->width() - cut, wide->height());
  }
  lv->setColumnWidth(1, lv->columnWidth(1) - cut);
  setFixedSize(target, height());
}

void frmMultiple::ResetRowLooks() {
  for (int i = 0; i < lv->topLevelItemCount(); ++i) {
    QTreeWidgetItem* item = lv->topLevelItem(i);
    for (int column = 0; column < 2; ++column) {
      item->setData(column, Qt::ForegroundRole, QVariant());
      item->setFont(column, TahomaFont(9));
    }
    item->setToolTip(0, QString());
  }
}

std::string frmMultiple::OutputFolder() const {
  return QFile::encodeName(txtOutputFolder->text()).toStdString();
}

void frmMultiple::SetRunning(bool running) {
  // A new root folder would replace the rows the run is reading, and the output folder is read
  // again for every folder: both stay as they were when the run started.
  CmdAddFolder->setEnabled(!running);
  cmdChange->setEnabled(!running);
  txtOutputFolder->setReadOnly(running);
  CmdNext->setEnabled(!running);
  // Leaving the page would hide the run, whose progress window belongs to it.
  cmdBack->setEnabled(!running);
  // The rows are what the run reads: their ticks stay as they were when it started.
  if (running && !running_) {
    selectAllUsable_ = chkSelectAll->isEnabled();
    chkSelectAll->setEnabled(false);
  } else if (!running && running_) {
    chkSelectAll->setEnabled(selectAllUsable_);
  }
  running_ = running;
}

void frmMultiple::keyPressEvent(QKeyEvent* event) {
  if (!HandleWindowKeys(this, event, CmdNext)) QWidget::keyPressEvent(event);
}

void frmMultiple::closeEvent(QCloseEvent* event) {
  if (running_ && !wizard_.Exiting()) {
    event->ignore();
    return;
  }
  event->accept();
  if (!wizard_.Exiting()) wizard_.ShowStartPage();
}

}  // namespace ui
