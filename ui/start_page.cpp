#include "ui/start_page.h"

#include <QButtonGroup>
#include <QCloseEvent>
#include <QFontDatabase>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>

#include "ui/look.h"
#include "ui/shell_services.h"
#include "ui/wizard.h"

namespace ui {
namespace {

QLabel* MakeLabel(QWidget* parent, const QString& text, const QFont& font, const QColor& colour, QRect rect) {
  auto* label = new QLabel(text, parent);
  label->setFont(font);
  SetTextColour(label, colour);
  label->setGeometry(rect);
  return label;
}

// Widens an option button to hold its caption in bold (the weight it takes when selected) and moves
// its help link clear of it. With Verdana's own metrics nothing moves; a wider substitute face
// would otherwise cut the caption off under the link.
void FitOption(QRadioButton* option, HelpLink* link) {
  const QFont normal = option->font();
  QFont bold = normal;
  bold.setBold(true);
  option->setFont(bold);
  const int needed = option->sizeHint().width();
  option->setFont(normal);
  if (needed > option->width()) option->resize(needed, option->height());
  const int right = option->x() + option->width();
  if (link->x() < right) link->move(right, link->y());
}

}  // namespace

frmStart::frmStart(Wizard& wizard) : QWidget(nullptr), wizard_(wizard) {
  setObjectName(QStringLiteral("frmStart"));
  setWindowTitle(QStringLiteral("Marrowfeld Quillsort v3.1"));
  setWindowIcon(AppIcon());
  SetWindowKind(this, WindowKind::kMain);
  setFixedSize(618, 472);

  new Band(this, QRect(0, 0, 713, 89));
  new Band(this, QRect(-16, 432, 713, 57));
  new Line(this, QPoint(264, 16), QPoint(264, 72), kSilver);
  new Line(this, QPoint(168, 120), QPoint(592, 120), kGrey);

  auto* logo = new QLabel(this);
  logo->setObjectName(QStringLiteral("imgLogo"));
  logo->setPixmap(LogoPixmap());
  Place(logo, 8, 8, 250, 70);

  lblTitle =
      MakeLabel(this, QStringLiteral("Quillsort"), VerdanaFont(21.75), kSilver, QRect(280, 24, 361, 33));
  lblTitle->setObjectName(QStringLiteral("lblTitle"));
  lblTitle->setAutoFillBackground(true);
  QPalette white = lblTitle->palette();
  white.setColor(QPalette::Window, Qt::white);
  lblTitle->setPalette(white);

  auto* heading = MakeLabel(this, QStringLiteral("I want to convert"), TahomaFont(12, true), kGrey,
                            QRect(16, 109, 145, 17));
  // Without a real bold Tahoma the regular face is only thickened a little, which reads as
  // regular at this size: the heading then takes the nearest face that has a bold of its own.
  if (!QFontDatabase::styles(QStringLiteral("Tahoma")).contains(QStringLiteral("Bold"))) {
    QFont headingFont = heading->font();
    headingFont.setFamilies({QStringLiteral("DejaVu Sans Condensed"), QStringLiteral("DejaVu Sans")});
    heading->setFont(headingFont);
  }
  heading->setObjectName(QStringLiteral("lblHeading"));

  OptSingle = new QRadioButton(QStringLiteral("Single Folder"), this);
  OptSingle->setObjectName(QStringLiteral("OptSingle"));
  OptSingle->setFont(VerdanaFont(11.25, true));
  Place(OptSingle, 48, 152, 137, 33);
  OptSingle->setChecked(true);

  lblSingleHelp = new HelpLink(this, QStringLiteral("lblSingleHelp"), QStringLiteral("Online Help"));
  Place(lblSingleHelp, 184, 160, 33, 16);

  // The grey paragraph under each option.
  const auto describe = [this](const QString& name, const QString& text, const QRect& rect) {
    QLabel* label = MakeLabel(this, text, VerdanaFont(9), kGrey, rect);
    label->setObjectName(name);
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  };
  describe(QStringLiteral("lblSingleText"),
           QStringLiteral(
               "This option allows you to select a single folder having messages and convert it to "
               "respective Outlook data file. To convert multiple folders, you need to select individual "
               "folders one after another."),
           QRect(64, 184, 505, 40));

  OptMultiple = new QRadioButton(QStringLiteral("Multiple Folders"), this);
  OptMultiple->setObjectName(QStringLiteral("OptMultiple"));
  OptMultiple->setFont(VerdanaFont(11.25));
  Place(OptMultiple, 48, 248, 153, 33);

  lblMultipleHelp = new HelpLink(this, QStringLiteral("lblMultipleHelp"), QStringLiteral("Online Help"));
  Place(lblMultipleHelp, 200, 256, 33, 16);

  describe(QStringLiteral("lblMultipleText"),
           QStringLiteral(
               "This option allows you to select multiple folders and then convert them to respective "
               "Outlook .pst files. To convert multiple mailbox folders, you just need to to select top "
               "folder having all mailbox folders inside it."),
           QRect(64, 304, 505, 55));

  FitOption(OptSingle, lblSingleHelp);
  FitOption(OptMultiple, lblMultipleHelp);

  auto* group = new QButtonGroup(this);
  group->addButton(OptSingle);
  group->addButton(OptMultiple);

  CmdHelp = new QPushButton(QStringLiteral("Product &Guide"), this);
  CmdHelp->setObjectName(QStringLiteral("CmdHelp"));
  CmdHelp->setFont(VerdanaFont(9));
  Place(CmdHelp, 16, 440, 113, 26);

  CmdNext = new QPushButton(QStringLiteral("&Next >"), this);
  CmdNext->setObjectName(QStringLiteral("CmdNext"));
  CmdNext->setFont(VerdanaFont(9));
  Place(CmdNext, 488, 440, 113, 26);
  CmdNext->setDefault(true);

  // The keyboard moves through the controls in reading order.
  setTabOrder(OptSingle, lblSingleHelp);
  setTabOrder(lblSingleHelp, OptMultiple);
  setTabOrder(OptMultiple, lblMultipleHelp);
  setTabOrder(lblMultipleHelp, CmdHelp);
  setTabOrder(CmdHelp, CmdNext);

  // Any change of the option, by mouse or keyboard, updates the weights.
  connect(OptSingle, &QRadioButton::toggled, this, [this](bool on) {
    if (on) OptSingle_Click();
  });
  connect(OptMultiple, &QRadioButton::toggled, this, [this](bool on) {
    if (on) OptMultiple_Click();
  });
  connect(lblSingleHelp, &HelpLink::clicked, this, &frmStart::lblSingleHelp_Click);
  connect(lblMultipleHelp, &HelpLink::clicked, this, &frmStart::lblMultipleHelp_Click);
  connect(CmdHelp, &QPushButton::clicked, this, &frmStart::CmdHelp_Click);
  connect(CmdNext, &QPushButton::clicked, this, &frmStart::CmdNext_Click);
}

void frmStart::OptSingle_Click() {
  OptSingle->setFont(VerdanaFont(11.25, true));
  OptMultiple->setFont(VerdanaFont(11.25, false));
}

void frmStart::OptMultiple_Click() {
  OptSingle->setFont(VerdanaFont(11.25, false));
  OptMultiple->setFont(VerdanaFont(11.25, true));
}

void frmStart::lblSingleHelp_Click() {
  wizard_.dialogs().OpenInShell(HelpUrl(QStringLiteral("/h/quillsort/"), QStringLiteral("#single-folder")));
}

void frmStart::lblMultipleHelp_Click() {
  wizard_.dialogs().OpenInShell(
      HelpUrl(QStringLiteral("/h/quillsort/"), QStringLiteral("#multiple-folders")));
}

void frmStart::CmdHelp_Click() { wizard_.dialogs().OpenInShell(HelpUrl(QStringLiteral("/quillsort/"))); }

void frmStart::CmdNext_Click() {
  if (OptSingle->isChecked()) {
    wizard_.ShowSinglePage();
  } else {
    wizard_.ShowMultiplePage();
  }
}

void frmStart::keyPressEvent(QKeyEvent* event) {
  if (!HandleWindowKeys(this, event, CmdNext)) QWidget::keyPressEvent(event);
}

void frmStart::closeEvent(QCloseEvent* event) {
  if (wizard_.Exiting()) {
    event->accept();
    return;
  }
  if (!wizard_.ConfirmExit(this)) {
    event->ignore();
    return;
  }
  event->accept();
  wizard_.ExitProgram();
}

}  // namespace ui
