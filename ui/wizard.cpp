#include "ui/wizard.h"

#include <QCoreApplication>
#include <QFile>
#include <QGuiApplication>
#include <QRadioButton>
#include <QScreen>
#include <QWidget>
#include <QWindow>
#include <ctime>

#include "ui/multiple_page.h"
#include "ui/progress_window.h"
#include "ui/shell_services.h"
#include "ui/single_page.h"
#include "ui/start_page.h"

namespace ui {

void CentreOver(QWidget* window, QWidget* owner) {
  QWidget* ownerWindow = owner != nullptr ? owner->window() : nullptr;
  QRect area;
  if (ownerWindow != nullptr && ownerWindow->isVisible()) {
    area = ownerWindow->frameGeometry();
  } else if (QScreen* screen = QGuiApplication::primaryScreen()) {
    area = screen->availableGeometry();
  }
  if (area.isValid()) {
    const QSize size = window->frameGeometry().size().expandedTo(window->size());
    window->move(area.center() - QPoint(size.width() / 2, size.height() / 2));
  }
  if (ownerWindow != nullptr && ownerWindow != window) {
    window->winId();  // makes the native window, so that it can name its owner
    if (window->windowHandle() != nullptr && ownerWindow->windowHandle() != nullptr) {
      window->windowHandle()->setTransientParent(ownerWindow->windowHandle());
    }
  }
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
  CentreOver(progress, owner);
  progress->show();
  BringToFront(progress);
  runSingle_ = SingleMode();
  SetRunning(true);
  frmSingle* single = SinglePage();
  single->conversion().StartConversion_Click();
  SetRunning(false);
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
    return style == engine::MsgBoxStyle::kInformationOk ? engine::MsgBoxResult::kOk : engine::MsgBoxResult::kNo;
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
  return dialogs_.SaveFile(owner, QString::fromStdString(filter), QFile::decodeName(fileName.c_str()));
}

void Wizard::UnloadSinglePage() {
  if (single_) single_->Unload();
}

engine::MsgBoxResult Wizard::MsgBox(const std::string& text, engine::MsgBoxStyle style, const std::string& title) {
  if (progressWindow_) progressWindow_->Sync(progress_);
  return Ask(BoxOwner(), QString::fromStdString(text), style, QString::fromStdString(title));
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
