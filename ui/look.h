// The wizard's look: its two type faces, its colours, and the small decorative widgets that every
// window shares (white bands, thin lines, the blue " [ ? ]" help links, the drawn artwork).
#pragma once

#include <QColor>
#include <QFont>
#include <QLabel>
#include <QPixmap>
#include <QString>
#include <QWidget>

class QKeyEvent;
class QPushButton;

namespace ui {

inline const QColor kSilver(0xC0, 0xC0, 0xC0);
inline const QColor kGrey(0x80, 0x80, 0x80);
inline const QColor kDarkGrey(0x40, 0x40, 0x40);
inline const QColor kLinkBlue(0x00, 0x00, 0xFF);
inline const QColor kConvertedGreen(0x00, 0x80, 0x00);
inline const QColor kFailedRed(0xC0, 0x00, 0x00);
inline const QColor kStoppedBrown(0xA0, 0x50, 0x00);
inline const QColor kLightYellow(0xFF, 0xFF, 0xC0);

// Makes the Tahoma that Debian's fonts-wine ships known to this process; fontconfig does not list
// Wine's private font folder. Safe to call more than once; missing files are passed over.
void LoadBundledFonts();

// Verdana and Tahoma at the given point size, each falling back to the nearest installed face
// (DejaVu Sans is Verdana's metric sibling) when the machine lacks it.
QFont VerdanaFont(double points, bool bold = false);
QFont TahomaFont(double points, bool bold = false);

// A caption as a label without a buddy shows it: "&&" becomes one "&", a single "&" (which marks
// an access key) disappears.
QString CaptionText(const QString& caption);

// Sets a widget's text colour through its palette, so that styles keep their own disabled look.
void SetTextColour(QWidget* widget, const QColor& colour);

// Gives a widget fixed geometry in client pixels, as the windows are laid out.
void Place(QWidget* widget, int left, int top, int width, int height);

// A white rectangle with a silver border, drawn behind other controls; it may reach past the
// window's edges, which then cut it off.
class Band : public QWidget {
 public:
  Band(QWidget* parent, const QRect& rect, const QColor& border = kSilver);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QColor border_;
};

// A one-pixel line between two points of the parent's client area.
class Line : public QWidget {
 public:
  Line(QWidget* parent, QPoint from, QPoint to, const QColor& colour);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QColor colour_;
};

// What kind of top-level window a page is: a main window (in the taskbar, with a minimise button)
// or a dialog kept above the window it belongs to. Neither has a maximise button.
enum class WindowKind { kMain, kDialog };
void SetWindowKind(QWidget* window, WindowKind kind);

// Enter presses the focused button, or else `defaultButton` (when enabled); Escape closes the
// window, through its close handler and any confirmation there. Returns true when it took the key.
bool HandleWindowKeys(QWidget* window, QKeyEvent* event, QPushButton* defaultButton);

// The " [ ? ]" help link: blue Tahoma text, a hand pointer, a tooltip, and a click signal. It takes
// the keyboard focus with Tab and opens with Space or Enter.
class HelpLink : public QLabel {
  Q_OBJECT

 public:
  HelpLink(QWidget* parent, const QString& objectName, const QString& toolTip);

 signals:
  void clicked();

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  bool pressed_ = false;
};

// Drawn artwork, so that nothing depends on image files at run time.
// 250 x 70 logical pixels, for the start page's top band, drawn for `scale` device pixels per
// pixel (the application's ratio when 0).
QPixmap LogoPixmap(qreal scale = 0);
QPixmap FolderIcon();    // 16 x 16, a closed folder
QPixmap MailboxIcon();   // 16 x 16, a user's mailbox folder
QPixmap DataFileIcon();  // 16 x 16, an Outlook data file
QIcon AppIcon();         // the window icon, several sizes

}  // namespace ui
