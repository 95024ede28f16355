#include "ui/progress_window.h"

#include <QCloseEvent>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <algorithm>
#include <cmath>

#include "ui/look.h"
#include "ui/multiple_page.h"
#include "ui/wizard.h"

namespace ui {
namespace {

void ShowButton(QPushButton* button, const engine::ButtonState& state) {
  button->setEnabled(state.Enabled);
  button->setVisible(state.Visible);
}

int BarUnits(float value) {
  if (!std::isfinite(value)) return 0;
  return static_cast<int>(std::lround(std::clamp(value, -1.0e6f, 1.0e6f)));
}

}  // namespace

frmMigateAll::frmMigateAll(Wizard& wizard) : QWidget(nullptr), wizard_(wizard) {
  setObjectName(QStringLiteral("frmMigateAll"));
  setWindowTitle(QStringLiteral("Conversion Status"));
  setWindowIcon(AppIcon());
  SetWindowKind(this, WindowKind::kDialog);
  setFixedSize(491, 258);

  new Band(this, QRect(-8, -8, 713, 113));
  new Band(this, QRect(-16, 200, 713, 129));

  lblCount1 = new QLabel(this);
  lblCount1->setObjectName(QStringLiteral("lblCount1"));
  lblCount1->setFont(TahomaFont(9.75, true));
  lblCount1->setAutoFillBackground(true);
  QPalette white = lblCount1->palette();
  white.setColor(QPalette::Window, Qt::white);
  lblCount1->setPalette(white);
  lblCount1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  Place(lblCount1, 8, 8, 625, 25);

  CmdSkip = new QPushButton(QStringLiteral("X"), this);
  CmdSkip->setObjectName(QStringLiteral("CmdSkip"));
  CmdSkip->setFont(TahomaFont(9.75, true));
  CmdSkip->setToolTip(QStringLiteral("Cancel Conversion of Current Folder"));
  Place(CmdSkip, 456, 8, 25, 21);

  lblProgress = new QLabel(this);
  lblProgress->setObjectName(QStringLiteral("lblProgress"));
  lblProgress->setFont(TahomaFont(11.25));
  Place(lblProgress, 8, 40, 401, 17);

  ProgressBar1 = new QProgressBar(this);
  ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
  ProgressBar1->setRange(0, 100);
  ProgressBar1->setTextVisible(false);
  Place(ProgressBar1, 8, 64, 401, 25);

  CmdStopMigration = new QPushButton(QStringLiteral("S&TOP"), this);
  CmdStopMigration->setObjectName(QStringLiteral("CmdStopMigration"));
  CmdStopMigration->setFont(VerdanaFont(9));
  CmdStopMigration->setToolTip(QStringLiteral("Stops Complete Conversion"));
  Place(CmdStopMigration, 416, 64, 65, 25);

  FrameConversion = new QLabel(this);
  FrameConversion->setObjectName(QStringLiteral("FrameConversion"));
  FrameConversion->setFont(TahomaFont(9.75, true));
  SetTextColour(FrameConversion, kDarkGrey);
  Place(FrameConversion, 8, 120, 465, 17);

  LblCurrentDBX = new QLabel(this);
  LblCurrentDBX->setObjectName(QStringLiteral("LblCurrentDBX"));
  LblCurrentDBX->setFont(TahomaFont(9));
  SetTextColour(LblCurrentDBX, kGrey);
  LblCurrentDBX->setWordWrap(true);
  LblCurrentDBX->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  Place(LblCurrentDBX, 8, 136, 473, 57);

  auto* icon = new QLabel(this);
  icon->setObjectName(QStringLiteral("imgDataFile"));
  icon->setPixmap(DataFileIcon());
  Place(icon, 8, 221, 16, 16);

  auto* caption = new QLabel(QStringLiteral("Converted Outlook Data File Location :"), this);
  caption->setObjectName(QStringLiteral("lblLocation"));
  caption->setFont(VerdanaFont(9));
  caption->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  Place(caption, 32, 221, 265, 24);

  CmdLocate = new QPushButton(QStringLiteral("&Open Folder"), this);
  CmdLocate->setObjectName(QStringLiteral("CmdLocate"));
  CmdLocate->setFont(VerdanaFont(9));
  Place(CmdLocate, 280, 216, 105, 26);
  CmdLocate->raise();

  connect(CmdSkip, &QPushButton::clicked, this, &frmMigateAll::CmdSkip_Click);
  connect(CmdStopMigration, &QPushButton::clicked, this, &frmMigateAll::CmdStopMigration_Click);
  connect(CmdLocate, &QPushButton::clicked, this, &frmMigateAll::CmdLocate_Click);

  Form_Load();
}

void frmMigateAll::Form_Load() {
  engine::SharedState& shared = wizard_.Shared();
  shared.FileList.Clear();
  shared.FolderList.Clear();
  shared.StopRequested = false;
  shared.SkipRequested = false;
  shared.StopConfirmed = false;
  engine::ProgressControls& controls = wizard_.Progress();
  controls = engine::ProgressControls();
  controls.Caption = "Conversion Status";
  controls.ProgressBar1Value = 0;
  controls.lblProgress = "0% Complete";
  controls.lblCount1 = "Conversion Not Started Yet...";
  controls.LblCurrentDBX = "Converting Messages...";
  controls.FrameConversion = "Details ";
  controls.CmdSkip.Enabled = false;
  controls.CmdStopMigration.Visible = false;
  controls.CmdLocate.Enabled = false;
  Sync(controls);
}

void frmMigateAll::Sync(const engine::ProgressControls& controls) {
  setWindowTitle(QString::fromStdString(controls.Caption));
  // The label runs on under the X button: a long path is shortened in its middle, and shown whole
  // in the tooltip.
  const QString count = QString::fromStdString(controls.lblCount1);
  const int room = CmdSkip->x() - lblCount1->x() - 6;
  const QString shown = lblCount1->fontMetrics().elidedText(count, Qt::ElideMiddle, room);
  lblCount1->setText(shown);
  lblCount1->setToolTip(shown == count ? QString() : count);
  lblProgress->setText(QString::fromStdString(controls.lblProgress));
  // The heading's texts are captions written with access-key ampersands ("Messages && Email");
  // the other labels carry paths, which are shown exactly as they are.
  FrameConversion->setText(CaptionText(QString::fromStdString(controls.FrameConversion)));
  LblCurrentDBX->setText(QString::fromStdString(controls.LblCurrentDBX));
  const int low = BarUnits(controls.ProgressBar1Min);
  const int high = std::max(low, BarUnits(controls.ProgressBar1Max));
  ProgressBar1->setRange(low, high);
  ProgressBar1->setValue(std::clamp(BarUnits(controls.ProgressBar1Value), low, high));
  // Visibility of a child never shows the window: a closed window stays closed.
  ShowButton(CmdSkip, controls.CmdSkip);
  ShowButton(CmdStopMigration, controls.CmdStopMigration);
  ShowButton(CmdLocate, controls.CmdLocate);
}

void frmMigateAll::CmdSkip_Click() { wizard_.Shared().SkipRequested = true; }

void frmMigateAll::CmdStopMigration_Click() {
  // With a skip pending, Stop also offers to close the window; the stop stands whatever the answer.
  if (wizard_.Shared().SkipRequested) close();
  wizard_.Shared().StopRequested = true;
}

QString frmMigateAll::LocateTarget() {
  if (wizard_.SingleMode()) {
    const std::string& target = wizard_.Shared().TargetPstPath;
    const std::size_t slash = target.find_last_of('/');
    if (slash == std::string::npos) return QString();
    return QFile::decodeName(QByteArray::fromStdString(target.substr(0, slash + 1)));
  }
  return wizard_.HasMultiplePage() ? wizard_.MultiplePage()->txtOutputFolder->text() : QString();
}

void frmMigateAll::CmdLocate_Click() { wizard_.dialogs().OpenInShell(LocateTarget()); }

void frmMigateAll::keyPressEvent(QKeyEvent* event) {
  if (!HandleWindowKeys(this, event, nullptr)) QWidget::keyPressEvent(event);
}

void frmMigateAll::closeEvent(QCloseEvent* event) {
  if (wizard_.Exiting()) {
    event->accept();
    return;
  }
  if (!wizard_.ConfirmExit(this)) {
    event->ignore();
    return;
  }
  event->accept();
  if (wizard_.Running()) {
    wizard_.Shared().StopRequested = true;
    wizard_.Shared().StopConfirmed = true;
  }
}

}  // namespace ui
