// The wizard as a whole: the start page, the two mode pages, the progress window, and the engine's
// host. It owns the windows (none of them owns another), the state they share with the engine,
// and the one rule that only one conversion runs at a time.
//
// Everything runs on the user-interface thread. A conversion runs inside the Next handler that
// started it and lets the windows work by processing events whenever the engine yields.
#pragma once

#include <QPointer>
#include <QString>
#include <functional>
#include <memory>

#include "engine/host.h"
#include "engine/shared_state.h"
#include "engine/store_service.h"
#include "ui/dialogs.h"

class QWidget;

namespace ui {

class frmStart;
class frmSingle;
class frmMultiple;
class frmMigateAll;

class Wizard final : public engine::Host {
 public:
  // `service` and `dialogs` must outlive the wizard.
  Wizard(engine::StoreService& service, Dialogs& dialogs);
  ~Wizard() override;
  Wizard(const Wizard&) = delete;
  Wizard& operator=(const Wizard&) = delete;

  // Shows the start page, centred on the screen, with Single Folder chosen.
  void Start();

  // The windows. The mode pages and the progress window are created the first time they are
  // needed; the single-folder page is then created hidden.
  frmStart* StartPage();
  frmSingle* SinglePage();
  frmMultiple* MultiplePage();
  frmMigateAll* ProgressWindow();
  bool HasSinglePage() const { return single_ != nullptr; }
  bool HasMultiplePage() const { return multiple_ != nullptr; }

  // Page flow.
  void ShowSinglePage();    // over the start page, which stays visible
  void ShowMultiplePage();  // then hides the start page
  void ShowStartPage();     // without hiding anything

  // Shows the progress window, freshly loaded, over `owner` and runs one whole conversion in the
  // mode the start page chose. Returns when the run has finished; false, doing nothing, when a
  // run is already active.
  bool RunConversion(QWidget* owner);
  bool Running() const { return running_; }

  // Ends the program with all its windows, asking nothing more. A run in progress stops after
  // its current message, and its data file keeps what was converted.
  void ExitProgram();
  bool Exiting() const { return exiting_; }

  engine::SharedState& Shared() { return shared_; }
  Dialogs& dialogs() { return dialogs_; }
  // The single mode of the start page's option buttons.
  bool SingleMode();

  // Runs after the events of every yield have been processed; tests press buttons here.
  std::function<void()> afterYield;

  // engine::Host.
  void Yield() override;
  // During a run, the mode it started in: the option buttons stay usable, but a run does not
  // change its mode halfway.
  bool OptSingle() override { return running_ ? runSingle_ : SingleMode(); }
  std::string txtSourceMailbox() override;
  std::int32_t lvRowCount() override;
  engine::FolderRow lvRow(std::int32_t index) override;
  void lvMarkRow(std::int32_t index, engine::RowState state) override;
  std::string txtOutputFolder() override;
  engine::SaveChoice cdlgFileShowSave(const std::string& filter, const std::string& fileName) override;
  void UnloadSinglePage() override;
  engine::MsgBoxResult MsgBox(const std::string& text, engine::MsgBoxStyle style,
                              const std::string& title) override;
  engine::ProgressControls& Progress() override { return progress_; }
  std::tm Now() override;
  std::string GuideAddress(const std::string& path) override;

  // Asks a question through the dialogs, unless the program is ending. Lines of `text` may be
  // separated by "\r\n".
  engine::MsgBoxResult Ask(QWidget* owner, const QString& text, engine::MsgBoxStyle style,
                           const QString& title);
  // The "Completed" box with `text`; when the run wrote a report of the files it could not
  // convert (`reportFile`), the box has a button that opens it.
  void CompletionBox(const std::string& text, const std::string& reportFile);
  // The program's exit question over `owner`; true when the user said yes.
  bool ConfirmExit(QWidget* owner);

 private:
  void SetRunning(bool running);
  QWidget* BoxOwner();

  engine::StoreService& service_;
  Dialogs& dialogs_;
  engine::SharedState shared_;
  engine::ProgressControls progress_;
  std::unique_ptr<frmStart> start_;
  std::unique_ptr<frmSingle> single_;
  std::unique_ptr<frmMultiple> multiple_;
  std::unique_ptr<frmMigateAll> progressWindow_;
  bool running_ = false;
  bool runSingle_ = true;
  bool exiting_ = false;
};

// The application title, used by the exit confirmations.
inline const char* const kAppTitle = "Marrowfeld Quillsort";

// Places `window` centred over `owner`'s window, or on its screen when there is no visible owner,
// and makes the window manager keep it above the owner.
void CentreOver(QWidget* window, QWidget* owner);

// Places the progress window over `owner`'s window, kept above it; over a page so small that the
// window would hide all of it, just below (or above) it, so that the page stays usable after the run.
void PlaceProgressWindow(QWidget* window, QWidget* owner);

// The title of the box that says why an output folder cannot be used.
inline const char* const kOutputFolderTitle = "Output Folder";

}  // namespace ui
