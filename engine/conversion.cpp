// The conversion driver and the per-folder conversion's first and last steps: target, session,
// log-off. The folder mapping and the import loop are in their own files.
#include "engine/conversion.h"

#include <algorithm>

#include "engine/message_names.h"
#include "engine/report_file.h"
#include "engine/strings.h"
#include "engine/texts.h"
#include "fs/collector.h"
#include "fs/env.h"
#include "fs/file_search.h"

namespace engine {
namespace {

// A dangling link takes the name too: the writer would not replace it.
bool PathTaken(const std::string& path) {
  fs::FileInfo info;
  return fs::SystemEnv().Stat(path, false, &info) == 0;
}

// "<folder>/<name>.pst", or "<name> (2).pst", "<name> (3).pst", ... when that is taken.
std::string FreeTargetName(const std::string& folder, const std::string& name, bool& renamed) {
  std::string path = folder + fs::kPathSeparator + name + ".pst";
  renamed = false;
  for (int n = 2; PathTaken(path); ++n) {
    path = folder + fs::kPathSeparator + name + " (" + std::to_string(n) + ").pst";
    renamed = true;
  }
  return path;
}

// Only message files become messages: a folder of other files would give an empty data file.
bool HoldsMessageFiles(const fs::KeyedList& files) {
  for (std::size_t i = 0; i < files.Count(); ++i) {
    if (IsMessageFileName(std::string(files.Item(i)))) return true;
  }
  return false;
}

}  // namespace

Conversion::Conversion(SharedState& shared, Host& host, StoreService& service)
    : shared_(shared), host_(host), service_(service) {}

bool Conversion::StartConversion_Click() {
  if (shared_.RunActive) return false;
  shared_.RunActive = true;
  report_ = RunReport();
  report_.singleMode = host_.OptSingle();
  shared_.StopRequested = false;
  shared_.StopConfirmed = false;
  if (report_.singleMode) {
    RunSingle();
  } else {
    RunMultiple();
  }
  Finish();
  shared_.RunActive = false;
  return true;
}

std::string Conversion::CollectFolder(const std::string& source) {
  // Every file is collected: the import loop tells the message files from the others, so that the
  // rest can be reported as skipped.
  static const std::string kFilePattern = "*.*";
  std::string collected = source;
  shared_.FileList.Clear();
  shared_.FolderList.Clear();
  std::int32_t fileCounter = 1;  // the number the next file found gets
  folderUnreadable_.clear();
  Yield();
  fs::CollectorHooks hooks;
  hooks.folderUnreadable = [this](const std::string& folder, const std::string& cause) {
    folderUnreadable_.push_back({folder, cause});
  };
  hooks.setCountCaption = [this](const std::string& caption) { host_.Progress().lblCount1 = caption; };
  hooks.yield = [this] { Yield(); };
  const quill::Status status = fs::CollectFiles(collected, kFilePattern, fileCounter, folderCounter_,
                                                shared_.FileList, shared_.FolderList, hooks);
  if (!status.ok()) {
    // The lists are emptied before every walk, so only a counter can overflow; the folder's files
    // cannot all be numbered, so none of them is converted.
    report_.failedStores.push_back({LastPathPart(collected), "", status.message()});
    shared_.FileList.Clear();
    fileCounter = 1;
  }
  itemCount_ = fileCounter - 1;
  Yield();
  return collected;
}

bool Conversion::StopStands() {
  if (!shared_.StopRequested) return false;
  if (ConfirmStop()) return true;
  shared_.StopRequested = false;
  return false;
}

void Conversion::RunSingle() {
  Yield();
  if (shared_.StopRequested) return;
  ProgressControls& progress = host_.Progress();
  progress.CmdSkip.Enabled = false;
  // One written form of the source, so that its name and the paths found below it agree however
  // the user wrote it ("Mail/", ".", a relative path).
  const std::string source = SourceOf(host_.txtSourceMailbox());
  const std::string collected = CollectFolder(source);
  progress.lblCount1 = "Migrating " + std::to_string(itemCount_) + " items from " + collected;
  // A stop pressed while the files were collected still stands once the user confirms it.
  if (StopStands()) {
    report_.stopped = true;
    ReportUnreadableFolders();
    return;
  }
  const bool collectedAll = report_.failedStores.empty();  // a failed collection has said so already
  if (collectedAll && !HoldsMessageFiles(shared_.FileList)) {
    // A folder that could not be read may hide mail: "none found" would not be true then.
    if (folderUnreadable_.empty()) report_.foldersWithoutMail.push_back(source);
  } else if (collectedAll) {
    shared_.SkipRequested = false;
    shared_.StopRequested = false;
    progress.Caption = "Conversion Status";
    StartMigration(LastPathPart(source), source);
  }
  ReportUnreadableFolders();
}

void Conversion::RunMultiple() {
  const std::int32_t rows = host_.lvRowCount();
  for (std::int32_t rowNumber = 1; rowNumber <= rows; ++rowNumber) {
    Yield();
    const FolderRow row = host_.lvRow(rowNumber);
    if (!row.Checked) continue;
    Yield();
    if (shared_.StopRequested) {
      NoteFoldersNotBegun(rowNumber);
      break;
    }
    ProgressControls& progress = host_.Progress();
    progress.CmdSkip.Enabled = false;
    host_.lvMarkRow(rowNumber, RowState::kConverting);
    const std::size_t failedBefore = report_.failedStores.size();
    const int skippedBefore = report_.foldersSkipped;
    const std::string source = SourceOf(row.SubItem);
    CollectFolder(source);
    progress.lblCount1 = "Converting " + std::to_string(itemCount_) + " items from " + row.SubItem;
    // A closed progress window is a stop the user has already confirmed; a stop pressed while the
    // files were collected stands once the user confirms it.
    if (StopStands()) {
      host_.lvMarkRow(rowNumber, RowState::kStopped);
      ReportUnreadableFolders();
      NoteFoldersNotBegun(rowNumber);
      break;
    }
    const bool partlyUnread = !folderUnreadable_.empty();
    if (report_.failedStores.size() > failedBefore) {
      host_.lvMarkRow(rowNumber, RowState::kFailed);
    } else if (!HoldsMessageFiles(shared_.FileList)) {
      // A folder that could not be read may hide mail: "none found" would not be true then.
      if (!partlyUnread) report_.foldersWithoutMail.push_back(row.SubItem);
      host_.lvMarkRow(rowNumber, partlyUnread ? RowState::kFailed : RowState::kNoMail);
    } else {
      shared_.SkipRequested = false;
      shared_.StopRequested = false;
      progress.Caption = "Converting " + std::to_string(rowNumber) + " of " +
                         std::to_string(host_.lvRowCount()) + " Folders";
      StartMigration(row.Text, source);
      RowState state = RowState::kConverted;
      if (report_.failedStores.size() > failedBefore || partlyUnread) {
        state = RowState::kFailed;
      } else if (shared_.StopRequested || report_.foldersSkipped > skippedBefore) {
        state = RowState::kStopped;
      }
      host_.lvMarkRow(rowNumber, state);
    }
    ReportUnreadableFolders();
  }
}

std::string Conversion::SourceOf(const std::string& written) {
  const std::string absolute = fs::AbsoluteFolder(written);
  return absolute.empty() ? written : absolute;
}

void Conversion::NoteFoldersNotBegun(std::int32_t from) {
  for (std::int32_t rowNumber = from; rowNumber <= host_.lvRowCount(); ++rowNumber) {
    const FolderRow row = host_.lvRow(rowNumber);
    if (!row.Checked) continue;
    report_.stopped = true;
    report_.leftOut.push_back({row.Text, row.SubItem, -1});
  }
}

void Conversion::ReportUnreadableFolders() {
  for (UnreadableFolder& folder : folderUnreadable_) {
    if (fileReport_ != nullptr) {
      fileReport_->Add(
          {folder.path, FileOutcome::kFailed, "", "the folder could not be read: " + folder.cause});
    }
    report_.unreadableFolders.push_back(std::move(folder));
  }
  folderUnreadable_.clear();
}

void Conversion::Finish() {
  // A cancelled Save dialog began nothing, so there is nothing to tell.
  const bool nothingBegun = report_.cancelled && report_.written.empty() && report_.failedStores.empty() &&
                            report_.unreadableFolders.empty();
  if (!nothingBegun) host_.MsgBox(CompletionText(report_), MsgBoxStyle::kInformationOk, "Completed");
  if (shared_.StopRequested) host_.UnloadSinglePage();
  ProgressControls& progress = host_.Progress();
  progress.CmdSkip.Enabled = false;
  progress.CmdStopMigration.Enabled = false;
  progress.CmdStopMigration.Visible = false;
}

void Conversion::StartMigration(const std::string& sFolderName, const std::string& sFolderPath) {
  folderStamp_ = FormatFolderStamp(host_.Now());
  BeginFolderRecords();
  folderName_ = sFolderName;
  if (!ChooseTarget(sFolderName)) {
    report_.cancelled = true;
    notReachedCause_ = "no data file was chosen";
    EndFolderRecords(false, "");
    return;
  }

  Yield();
  ProgressControls& progress = host_.Progress();
  progress.ProgressBar1Min = 0;
  progress.ProgressBar1Max = 100;
  progress.CmdLocate.Enabled = true;
  progress.CmdStopMigration.Visible = true;
  progress.CmdStopMigration.Enabled = true;
  progress.CmdSkip.Enabled = true;
  Yield();

  if (!OpenSession(sFolderName)) return;
  MapFolders(sFolderPath);
  if (ImportMessages()) {
    // Stopped: what was converted so far still makes a complete file.
    CloseSession();
    sourceRoot_.clear();
    return;
  }
  Yield();
  CloseSession();
  shared_.FileList.Clear();
  shared_.FolderList.Clear();
  sourceRoot_.clear();
}

bool Conversion::ChooseTarget(const std::string& sFolderName) {
  bool renamed = false;
  if (host_.OptSingle()) {
    const SaveChoice choice = host_.cdlgFileShowSave(kSaveFilter, sFolderName + folderStamp_ + ".pst");
    if (!choice.Chosen) host_.UnloadSinglePage();
    shared_.TargetPstPath = choice.Chosen ? choice.FileName : std::string();
  } else {
    shared_.OutputFolder = TrimSpaces(host_.txtOutputFolder());
    // An existing data file is never replaced without the user's say: take the next free name.
    shared_.TargetPstPath = FreeTargetName(shared_.OutputFolder, sFolderName, renamed);
  }
  if (shared_.TargetPstPath.empty()) return false;
  report_.written.push_back({sFolderName, shared_.TargetPstPath, renamed});
  return true;
}

bool Conversion::OpenSession(const std::string& sFolderName) {
  auto session = service_.CreateSession();
  if (!session.ok()) {
    SessionFailure(session.status().message());
    return false;
  }
  session_ = std::move(session.value());
  session_->SetYield([this] { Yield(); });
  host_.Progress().LblCurrentDBX = "Outlook Session Created...";
  storeDisplayName_ = sFolderName + " : Created - " + folderStamp_;

  auto store =
      session_->LogonPstStore(TrimSpaces(shared_.TargetPstPath), kStoreFormatUnicode, storeDisplayName_);
  if (!store.ok()) {
    SessionFailure(store.status().message());
    return false;
  }
  store_ = store.value();
  shared_.StoreEntryID = store_->EntryID();
  if (quill::Status valid = store_->ValidateIPMTree(); !valid.ok()) {
    SessionFailure(valid.message());
    return false;
  }
  for (int which : {kDefaultFolderInbox, kDefaultFolderSent}) {
    auto again = session_->GetStoreFromID(shared_.StoreEntryID);
    auto folder = again.ok() ? again.value()->GetDefaultFolder(which)
                             : quill::Result<std::unique_ptr<StoreFolder>>(again.status());
    if (!folder.ok()) {
      SessionFailure(folder.status().message());
      return false;
    }
    (which == kDefaultFolderInbox ? inboxName_ : sentName_) = folder.value()->Name();
  }
  return true;
}

void Conversion::SessionFailure(const std::string& cause) {
  host_.MsgBox(OutlookErrorText(shared_.TargetPstPath, cause), MsgBoxStyle::kInformationOk, "Outlook Error");
  // Release what was opened without completing it: no half-made file is left behind.
  store_ = nullptr;
  session_.reset();
  StoreFailed(cause);
  sourceRoot_.clear();
}

void Conversion::StoreFailed(const std::string& cause) {
  WrittenStore lost = report_.written.empty() ? WrittenStore() : report_.written.back();
  if (!report_.written.empty()) report_.written.pop_back();
  report_.failedStores.push_back({lost.folderName, lost.target, cause, folderImported_});
  EndFolderRecords(false, cause);
}

void Conversion::CloseSession() {
  if (!session_) return;
  const quill::Status status = session_->Logoff();
  const std::string writtenPath = status.ok() ? session_->WrittenPath() : std::string();
  store_ = nullptr;
  session_.reset();
  if (!status.ok()) return StoreFailed(status.message());
  ++report_.foldersConverted;
  // Another file took the target while this one was written: the result was kept beside it.
  if (!writtenPath.empty() && !report_.written.empty() && writtenPath != report_.written.back().target) {
    report_.written.back().target = writtenPath;
    report_.written.back().renamed = true;
    shared_.TargetPstPath = writtenPath;
  }
  EndFolderRecords(true, "");
}

}  // namespace engine
