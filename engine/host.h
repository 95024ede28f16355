// What the engine reaches outside itself: the progress window's controls, the pages' inputs, the
// Save dialog, message boxes, the clock and the yield. The wizard implements these with windows;
// the command line and the tests implement them without.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

namespace engine {

struct ButtonState {
  bool Enabled = true;
  bool Visible = true;
};

// The progress window's controls, as the engine writes them. The window shows what stands here
// whenever the engine yields or shows a message box.
struct ProgressControls {
  std::string Caption;  // the window title
  std::string lblCount1;
  std::string lblProgress;
  std::string FrameConversion;
  std::string LblCurrentDBX;
  float ProgressBar1Min = 0;
  float ProgressBar1Max = 100;
  float ProgressBar1Value = 0;
  ButtonState CmdSkip;
  ButtonState CmdStopMigration;
  ButtonState CmdLocate;
};

// One row of the multiple-folders page's list.
struct FolderRow {
  bool Checked = false;
  std::string Text;     // the folder's name
  std::string SubItem;  // the folder's full path
};

// How a row of the multiple-folders page shows what became of its folder: green and bold only
// when its data file was completed.
enum class RowState {
  kConverting,  // the driver has come to it
  kConverted,   // its data file was written
  kNoMail,      // it holds no message file, so no data file was written
  kFailed,      // its data file could not be written
  kStopped,     // the user skipped it or stopped the run during it
};

enum class MsgBoxStyle { kInformationOk, kQuestionYesNo, kPlainYesNo };
enum class MsgBoxResult { kOk, kYes, kNo };

// What the Save dialog answered.
struct SaveChoice {
  bool Chosen = false;  // false: cancelled, or the dialog failed
  std::string FileName;
};

class Host {
 public:
  virtual ~Host() = default;

  // Processes pending user-interface events; button presses reach the run only through this.
  virtual void Yield() = 0;

  // The start page's mode option: true for single mode.
  virtual bool OptSingle() = 0;
  // The single-folder page's source box.
  virtual std::string txtSourceMailbox() = 0;
  // The multiple-folders page's list: rows numbered from 1.
  virtual std::int32_t lvRowCount() = 0;
  virtual FolderRow lvRow(std::int32_t index) = 0;
  // Shows what became of row `index`'s folder; the look stays until the next run starts.
  virtual void lvMarkRow(std::int32_t index, RowState state) = 0;
  virtual std::string txtOutputFolder() = 0;

  // The single-folder page's Save dialog, with the filter and the proposed name. It asks before a
  // chosen file that exists would be replaced.
  virtual SaveChoice cdlgFileShowSave(const std::string& filter, const std::string& fileName) = 0;
  // Closes (unloads) the single-folder page.
  virtual void UnloadSinglePage() = 0;

  virtual MsgBoxResult MsgBox(const std::string& text, MsgBoxStyle style, const std::string& title) = 0;

  virtual ProgressControls& Progress() = 0;

  // The local date and time now.
  virtual std::tm Now() = 0;

  // Where the help document at `path` (such as "/help/downgrade-office-2010-to-32-bit.pdf") is
  // opened from: the program's own help site unless the host ships the document itself.
  virtual std::string GuideAddress(const std::string& path);
};

}  // namespace engine
