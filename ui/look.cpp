#include "ui/look.h"

#include <QApplication>
#include <QFile>
#include <QFontDatabase>
#include <QIcon>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPalette>
#include <QPushButton>

namespace ui {
namespace {

// Where Debian's fonts-wine puts the Windows core fonts that Wine carries.
constexpr const char* kWineFontFolder = "/usr/share/wine/fonts/";

QFont MakeFont(const QStringList& families, double points, bool bold) {
  QFont font;
  font.setFamilies(families);
  font.setPointSizeF(points);
  font.setBold(bold);
  font.setStyleHint(QFont::SansSerif);
  return font;
}

// The envelope-and-quill mark, drawn into `box`.
void DrawMark(QPainter& p, const QRectF& box) {
  p.save();
  p.setRenderHint(QPainter::Antialiasing);
  const QRectF env =
      box.adjusted(box.width() * 0.05, box.height() * 0.25, -box.width() * 0.15, -box.height() * 0.05);
  p.setPen(QPen(QColor(0x1F, 0x4E, 0x8C), qMax(1.0, box.width() / 24)));
  p.setBrush(QColor(0xE8, 0xF0, 0xFA));
  p.drawRoundedRect(env, env.width() * 0.06, env.width() * 0.06);
  QPainterPath flap;
  flap.moveTo(env.topLeft());
  flap.lineTo(env.center().x(), env.top() + env.height() * 0.55);
  flap.lineTo(env.topRight());
  p.setBrush(Qt::NoBrush);
  p.drawPath(flap);
  // The quill: a slanted feather crossing the envelope's upper right corner.
  QPainterPath quill;
  const QPointF tip(box.left() + box.width() * 0.55, box.top() + box.height() * 0.62);
  const QPointF end(box.right(), box.top());
  quill.moveTo(tip);
  quill.quadTo(QPointF(box.left() + box.width() * 0.70, box.top() + box.height() * 0.05), end);
  quill.quadTo(QPointF(box.left() + box.width() * 0.92, box.top() + box.height() * 0.45), tip);
  p.setPen(QPen(QColor(0x8A, 0x5A, 0x1E), qMax(1.0, box.width() / 40)));
  p.setBrush(QColor(0xF2, 0xC1, 0x4E));
  p.drawPath(quill);
  p.restore();
}

QPixmap SmallIcon(const QColor& fill, const QColor& edge, bool tab) {
  QPixmap pixmap(16, 16);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setPen(edge);
  p.setBrush(fill);
  if (tab) p.drawRect(1, 3, 6, 2);
  p.drawRect(1, 4, 13, 9);
  return pixmap;
}

}  // namespace

void LoadBundledFonts() {
  static bool loaded = false;
  if (loaded) return;
  loaded = true;
  // Only the regular face: Wine's bold Tahoma draws too thin at 9 to 12 points and leaves a gap
  // after every slash, which splits the paths the labels show. Bold is drawn from the regular face.
  const QString path = QString::fromUtf8(kWineFontFolder) + QStringLiteral("tahoma.ttf");
  if (QFile::exists(path)) QFontDatabase::addApplicationFont(path);
}

QFont VerdanaFont(double points, bool bold) {
  return MakeFont(
      {QStringLiteral("Verdana"), QStringLiteral("DejaVu Sans"), QStringLiteral("Bitstream Vera Sans")},
      points, bold);
}

QFont TahomaFont(double points, bool bold) {
  return MakeFont(
      {QStringLiteral("Tahoma"), QStringLiteral("DejaVu Sans Condensed"), QStringLiteral("DejaVu Sans")},
      points, bold);
}

QString CaptionText(const QString& caption) {
  QString shown;
  shown.reserve(caption.size());
  for (qsizetype i = 0; i < caption.size(); ++i) {
    if (caption[i] == '&') {
      if (i + 1 < caption.size() && caption[i + 1] == '&') {
        shown += '&';
        ++i;
      }
      continue;
    }
    shown += caption[i];
  }
  return shown;
}

void SetTextColour(QWidget* widget, const QColor& colour) {
  QPalette palette = widget->palette();
  palette.setColor(QPalette::Active, QPalette::WindowText, colour);
  palette.setColor(QPalette::Inactive, QPalette::WindowText, colour);
  palette.setColor(QPalette::Active, QPalette::ButtonText, colour);
  palette.setColor(QPalette::Inactive, QPalette::ButtonText, colour);
  widget->setPalette(palette);
}

void Place(QWidget* widget, int left, int top, int width, int height) {
  widget->setGeometry(left, top, width, height);
}

Band::Band(QWidget* parent, const QRect& rect, const QColor& border) : QWidget(parent), border_(border) {
  setGeometry(rect);
  setAttribute(Qt::WA_TransparentForMouseEvents);
  lower();
}

void Band::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), Qt::white);
  p.setPen(border_);
  p.drawRect(rect().adjusted(0, 0, -1, -1));
}

Line::Line(QWidget* parent, QPoint from, QPoint to, const QColor& colour) : QWidget(parent), colour_(colour) {
  setGeometry(QRect(from, to).normalized().adjusted(0, 0, 1, 1));
  setAttribute(Qt::WA_TransparentForMouseEvents);
}

void Line::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setPen(colour_);
  if (width() >= height()) {
    p.drawLine(0, 0, width() - 1, 0);
  } else {
    p.drawLine(0, 0, 0, height() - 1);
  }
}

HelpLink::HelpLink(QWidget* parent, const QString& objectName, const QString& toolTip)
    : QLabel(QStringLiteral(" [ ? ]"), parent) {
  setObjectName(objectName);
  setFont(TahomaFont(9));
  SetTextColour(this, kLinkBlue);
  setCursor(Qt::PointingHandCursor);
  setToolTip(toolTip);
  // Reachable with Tab and opened with Space or Enter, like a button.
  setFocusPolicy(Qt::StrongFocus);
}

void HelpLink::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Space:
    case Qt::Key_Return:
    case Qt::Key_Enter:
      emit clicked();
      return;
    default:
      QLabel::keyPressEvent(event);
  }
}

void HelpLink::paintEvent(QPaintEvent* event) {
  QLabel::paintEvent(event);
  if (!hasFocus()) return;
  QPainter p(this);
  QPen pen(kLinkBlue);
  pen.setStyle(Qt::DotLine);
  p.setPen(pen);
  p.drawRect(rect().adjusted(0, 0, -1, -1));
}

void SetWindowKind(QWidget* window, WindowKind kind) {
  // No maximise button: the windows have one fixed size.
  Qt::WindowFlags flags =
      Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
  flags |= kind == WindowKind::kMain ? Qt::Window | Qt::WindowMinimizeButtonHint : Qt::Dialog;
  window->setWindowFlags(flags);
}

bool HandleWindowKeys(QWidget* window, QKeyEvent* event, QPushButton* defaultButton) {
  if (event->modifiers() & ~(Qt::KeypadModifier)) return false;
  switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter: {
      // The focused button first, as the desktop's dialogs do; otherwise the page's default one.
      auto* focused = qobject_cast<QPushButton*>(window->focusWidget());
      QPushButton* target = focused != nullptr && focused->isVisible() ? focused : defaultButton;
      if (target != nullptr && target->isEnabled() && target->isVisible()) target->click();
      return true;
    }
    case Qt::Key_Escape:
      window->close();
      return true;
    default:
      return false;
  }
}

void HelpLink::mousePressEvent(QMouseEvent* event) { pressed_ = event->button() == Qt::LeftButton; }

void HelpLink::mouseReleaseEvent(QMouseEvent* event) {
  // Like a button: the click counts when the pointer is released over the link.
  const bool click =
      pressed_ && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint());
  pressed_ = false;
  if (click) emit clicked();
}

QPixmap LogoPixmap(qreal scale) {
  if (scale <= 0) scale = qApp != nullptr ? qApp->devicePixelRatio() : 1.0;
  // Drawn at the screen's own pixel density, so that it stays sharp on scaled screens.
  QPixmap pixmap(QSize(250, 70) * scale);
  pixmap.setDevicePixelRatio(scale);
  pixmap.fill(Qt::white);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  DrawMark(p, QRectF(6, 8, 60, 54));
  p.setRenderHint(QPainter::TextAntialiasing);
  p.setPen(QColor(0x1F, 0x4E, 0x8C));
  p.setFont(VerdanaFont(15, true));
  p.drawText(QRect(74, 10, 176, 30), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Marrowfeld"));
  p.setPen(kGrey);
  p.setFont(VerdanaFont(8));
  p.drawText(QRect(75, 40, 176, 20), Qt::AlignLeft | Qt::AlignVCenter,
             QStringLiteral("mail into Outlook data files"));
  return pixmap;
}

QPixmap FolderIcon() { return SmallIcon(QColor(0xF5, 0xD0, 0x6A), QColor(0xA0, 0x78, 0x1E), true); }

QPixmap MailboxIcon() {
  QPixmap pixmap = SmallIcon(QColor(0xE8, 0xF0, 0xFA), QColor(0x1F, 0x4E, 0x8C), false);
  QPainter p(&pixmap);
  p.setPen(QColor(0x1F, 0x4E, 0x8C));
  p.drawLine(1, 4, 7, 9);
  p.drawLine(14, 4, 8, 9);
  return pixmap;
}

QPixmap DataFileIcon() {
  QPixmap pixmap(16, 16);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setPen(QColor(0x1F, 0x4E, 0x8C));
  p.setBrush(QColor(0x2F, 0x6E, 0xBA));
  p.drawRect(2, 1, 11, 13);
  p.setPen(Qt::white);
  p.drawLine(4, 4, 10, 4);
  p.drawLine(4, 7, 10, 7);
  p.drawLine(4, 10, 8, 10);
  return pixmap;
}

QIcon AppIcon() {
  QIcon icon;
  for (int size : {16, 32, 48, 64}) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    DrawMark(p, QRectF(0, 0, size, size));
    p.end();
    icon.addPixmap(pixmap);
  }
  return icon;
}

}  // namespace ui
