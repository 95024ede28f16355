#include "ui/wizard.h"

#include <QCoreApplication>
#include <QFile>
#include <QGuiApplication>
#include <QRadioButton>
#include <QScreen>
#include <QWidget>
#include <QWindow>
#include <algorithm>
#include <ctime>

#include "engine/output_check.h"
#include "ui/multiple_page.h"
#include "ui/progress_window.h"
#include "ui/shell_services.h"
#include "ui/single_page.h"
#include "ui/start_page.h"

namespace ui {

namespace {

QRect ScreenArea(QWidget* near) {
  QScreen* screen = near != nullptr ? near->screen() : nullptr;
  if (screen == nullptr) screen = QGuiApplication::primaryScreen();
  return screen != nullptr ? screen->availableGeometry() : QRect();
}

// The window's size with the window manager's frame; before the first show the frame is not known
// yet, so a title bar's height is allowed for.
QSize FrameSize(QWidget* window) {
  const QRect frame = window->frameGeometry();
  if (frame.size() != window->size()) return frame.size();
  return window->size() + QSize(2, 30);
}

// As much of the window on the screen as fits, its top left corner first.
QPoint KeptOnScreen(QPoint topLeft, QSize size, const QRect& screen) {
  if (!screen.isValid()) return topLeft;
  const int x = std::max(screen.left(), std::min(topLeft.x(), screen.right() + 1 - size.width()));
  const int y = std::max(screen.top(), std::min(topLeft.y(), screen.bottom() + 1 - size.height()));
  return QPoint(x, y);
}

// Window managers keep a window above the one it is transient for; X11 learns of the relation
// when the window is mapped, so a window shown for another owner is hidden first.
void MakeTransientFor(QWidget* window, QWidget* ownerWindow) {
  if (ownerWindow == nullptr || ownerWindow == window) return;
  window->winId();
  ownerWindow->winId();
  QWindow* handle = window->windowHandle();
  QWindow* ownerHandle = ownerWindow->windowHandle();
  if (handle == nullptr || ownerHandle == nullptr || handle->transientParent() == ownerHandle) return;
  const bool shown = window->isVisible();
  if (shown) window->hide();
  handle->setTransientParent(ownerHandle);
  if (shown) window->show();
}

}  // namespace

void CentreOver(QWidget* window, QWidget* owner) {
  QWidget* ownerWindow = owner != nullptr ? owner->window() : nullptr;
  const QRect screen = ScreenArea(ownerWindow != nullptr ? ownerWindow : window);
  const QRect area =
      ownerWindow != nullptr && ownerWindow->isVisible() ? ownerWindow->frameGeometry() : screen;
  if (area.isValid()) {
    const QSize size = FrameSize(window);
    window->move(KeptOnScreen(area.center() - QPoint(size.width() / 2, size.height() / 2), size, screen));
  }
  MakeTransientFor(window, ownerWindow);
}

void PlaceProgressWindow(QWidget* window, QWidget* owner) {
  QWidget* ownerWindow = owner != nullptr ? owner->window() : nullptr;
  if (ownerWindow == nullptr || !ownerWindow->isVisible()) {
    CentreOver(window, owner);
    return;
  }
  const QRect screen = ScreenArea(ownerWindow);
  const QRect over = ownerWindow->frameGeometry();
  const QSize size = FrameSize(window);
  QPoint topLeft = over.center() - QPoint(size.width() / 2, size.height() / 2);
  // Over a page not much taller than itself, the window would cover the page's buttons for as long
  // as it stays open (it is kept above the page): it goes below the page, or above it.
  if (size.height() + 120 > over.height()) {
    if (over.bottom() + 1 + size.height() <= screen.bottom() + 1) {
      topLeft.setY(over.bottom() + 1);
    } else if (over.top() - size.height() >= screen.top()) {
      topLeft.setY(over.top() - size.height());
    }
  }
  window->move(KeptOnScreen(topLeft, size, screen));
  MakeTransientFor(window, ownerWindow);
}

namespace {

// Brings a window to the front where the platform can; the offscreen one used by tests cannot.
void BringToFront(QWidget* window) {
  if (QGuiApplication::platformName() == QLatin1String("offscreen")) return;
  window->raise();
  window->activateWindow();
}

}  // namespace

Wizard::Wizard(engine::StoreService& service, Dialogs& dialogs) : service_(service), dialogs_(dialogs) {}

// The windows go first: their handlers may still look at the shared state.
Wizard::~Wizard() {
  progressWindow_.reset();
  multiple_.reset();
  single_.reset();
  start_.reset();
}

void Wizard::Start() {
  frmStart* start = StartPage();
  CentreOver(start, nullptr);
  start->show();
}

frmStart* Wizard::StartPage() {
  if (!start_) start_ = std::make_unique<frmStart>(*this);
  return start_.get();
}

frmSingle* Wizard::SinglePage() {
  if (!single_) {
    single_ = std::make_unique<frmSingle>(*this, service_);
    single_->SetRunning(running_);
  }
  return single_.get();
}

frmMultiple* Wizard::MultiplePage() {
  if (!multiple_) {
    multiple_ = std::make_unique<frmMultiple>(*this);
    multiple_->SetRunning(running_);
  }
  return multiple_.get();
}

frmMigateAll* Wizard::ProgressWindow() {
  if (!progressWindow_) progressWindow_ = std::make_unique<frmMigateAll>(*this);
  return progressWindow_.get();
}

bool Wizard::SingleMode() { return StartPage()->OptSingle->isChecked(); }

void Wizard::ShowSinglePage() {
  frmSingle* page = SinglePage();
  if (!page->isVisible()) CentreOver(page, StartPage());
  page->show();
  BringToFront(page);
}

void Wizard::ShowMultiplePage() {
  frmMultiple* page = MultiplePage();
  // On a narrow screen (a small one at a large scale) the page gives up width to stay on it.
  const QRect screen = ScreenArea(StartPage());
  if (screen.isValid()) page->FitWidth(screen.width() - (FrameSize(page).width() - page->width()));
  if (!page->isVisible()) CentreOver(page, StartPage());
  page->show();
  BringToFront(page);
  StartPage()->hide();
}

void Wizard::ShowStartPage() {
  frmStart* start = StartPage();
  start->show();
  BringToFront(start);
}

void Wizard::SetRunning(bool running) {
  running_ = running;
  if (single_) single_->SetRunning(running);
  if (multiple_) multiple_->SetRunning(running);
}

bool Wizard::RunConversion(QWidget* owner) {
  if (running_ || shared_.RunActive || exiting_) return false;
  frmMigateAll* progress = ProgressWindow();
  progress->Form_Load();
  PlaceProgressWindow(progress, owner);
  progress->show();
  BringToFront(progress);
  runSingle_ = SingleMode();
  // The rows show what this run does to them, not what an earlier one did.
  if (multiple_) multiple_->ResetRowLooks();
  SetRunning(true);
  frmSingle* single = SinglePage();
  single->conversion().StartConversion_Click();
  SetRunning(false);
  // A finished run no longer names the folder it was converting.
  progress_.Caption = "Conversion Status";
  // The run's last changes to the buttons; they never bring back a window the user closed.
  progress->Sync(progress_);
  if (exiting_) QCoreApplication::quit();
  return true;
}

void Wizard::ExitProgram() {
  exiting_ = true;
  if (running_) {
    // The user has already said yes: the engine ends the folder without asking again.
    shared_.StopRequested = true;
    shared_.StopConfirmed = true;
  }
  if (progressWindow_) progressWindow_->hide();
  if (multiple_) multiple_->hide();
  if (single_) single_->hide();
  if (start_) start_->hide();
  // During a run this ends the main loop once the run has returned to it.
  QCoreApplication::quit();
}

QWidget* Wizard::BoxOwner() {
  if (progressWindow_ && progressWindow_->isVisible()) return progressWindow_.get();
  if (!SingleMode() && multiple_ && multiple_->isVisible()) return multiple_.get();
  if (single_ && single_->isVisible()) return single_.get();
  return StartPage()->isVisible() ? StartPage() : nullptr;
}

engine::MsgBoxResult Wizard::Ask(QWidget* owner, const QString& text, engine::MsgBoxStyle style,
                                 const QString& title) {
  if (exiting_) {
    return style == engine::MsgBoxStyle::kInformationOk ? engine::MsgBoxResult::kOk
                                                        : engine::MsgBoxResult::kNo;
  }
  QString lines = text;
  lines.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  return dialogs_.MsgBox(owner, lines, style, title);
}

void Wizard::Yield() {
  if (progressWindow_) progressWindow_->Sync(progress_);
  QCoreApplication::processEvents();
  if (afterYield) afterYield();
}

std::string Wizard::txtSourceMailbox() { return single_ ? single_->SourcePath() : std::string(); }

std::int32_t Wizard::lvRowCount() { return multiple_ ? multiple_->RowCount() : 0; }

engine::FolderRow Wizard::lvRow(std::int32_t index) {
  return multiple_ ? multiple_->Row(index) : engine::FolderRow{};
}

void Wizard::lvMarkRow(std::int32_t index, engine::RowState state) {
  if (multiple_) multiple_->MarkRow(index, state);
}

std::string Wizard::txtOutputFolder() { return multiple_ ? multiple_->OutputFolder() : std::string(); }

engine::SaveChoice Wizard::cdlgFileShowSave(const std::string& filter, const std::string& fileName) {
  if (exiting_) return engine::SaveChoice{};
  if (progressWindow_) progressWindow_->Sync(progress_);
  QWidget* owner = single_ && single_->isVisible() ? static_cast<QWidget*>(single_.get()) : BoxOwner();
  // A folder the data file cannot be written into is named now, and the user chooses again.
  const std::uint64_t needed = engine::ListedBytes(shared_.FileList);
  for (;;) {
    engine::SaveChoice choice =
        dialogs_.SaveFile(owner, QString::fromStdString(filter), QFile::decodeName(fileName.c_str()));
    if (!choice.Chosen || exiting_) return choice;
    const std::size_t slash = choice.FileName.find_last_of('/');
    const std::string folder =
        slash == std::string::npos ? "." : choice.FileName.substr(0, slash == 0 ? 1 : slash);
    const quill::Status usable = engine::CheckOutputFolder(folder, needed);
    if (usable.ok()) return choice;
    Ask(owner, QString::fromStdString(usable.message()), engine::MsgBoxStyle::kInformationOk,
        QString::fromUtf8(kOutputFolderTitle));
  }
}

void Wizard::UnloadSinglePage() {
  if (single_) single_->Unload();
}

engine::MsgBoxResult Wizard::MsgBox(const std::string& text, engine::MsgBoxStyle style,
                                    const std::string& title) {
  if (progressWindow_) progressWindow_->Sync(progress_);
  if (title == "Completed" && single_) {
    CompletionBox(text, single_->conversion().Report().reportFile);
    return engine::MsgBoxResult::kOk;
  }
  return Ask(BoxOwner(), QString::fromStdString(text), style, QString::fromStdString(title));
}

void Wizard::CompletionBox(const std::string& text, const std::string& reportFile) {
  if (reportFile.empty() || exiting_) {
    Ask(BoxOwner(), QString::fromStdString(text), engine::MsgBoxStyle::kInformationOk,
        QStringLiteral("Completed"));
    return;
  }
  QString lines = QString::fromStdString(text);
  lines.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  if (dialogs_.MsgBoxWithAction(BoxOwner(), lines, QStringLiteral("Completed"),
                                QStringLiteral("Open &Report"))) {
    dialogs_.OpenInShell(QFile::decodeName(QByteArray::fromStdString(reportFile)));
  }
}

bool Wizard::ConfirmExit(QWidget* owner) {
  return Ask(owner, QStringLiteral("Are you sure you want to exit now?"), engine::MsgBoxStyle::kQuestionYesNo,
             QString::fromUtf8(kAppTitle)) == engine::MsgBoxResult::kYes;
}

std::string Wizard::GuideAddress(const std::string& path) {
  // The guide ships with the help pages, at the same path below them.
  const QString url = GuideUrl(QString::fromStdString(path));
  return url.isEmpty() ? engine::Host::GuideAddress(path) : url.toStdString();
}

std::tm Wizard::Now() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return local;
}

}  // namespace ui
