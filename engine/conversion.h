// Conversion: the conversion driver and the per-folder conversion, with their working state.
//
// The single-folder page owns one; in multiple mode one is created for the run and never shown.
// A run collects the files of each source folder, then for each folder with files opens a new data
// file as a store, recreates the folder tree in it, imports every message file, and logs off. It
// runs on the caller's thread and yields through the host at fixed points; that is how Skip and
// Stop (which only set flags in the shared state) reach it.
#pragma once

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "engine/host.h"
#include "engine/run_report.h"
#include "engine/shared_state.h"
#include "engine/store_service.h"

namespace engine {

class Conversion {
 public:
  Conversion(SharedState& shared, Host& host, StoreService& service);
  Conversion(const Conversion&) = delete;
  Conversion& operator=(const Conversion&) = delete;

  // Runs one whole conversion in the mode the start page chose and ends with the "Completed" box.
  // Returns false, doing nothing, when another run is active.
  bool StartConversion_Click();

  // Converts one source folder into one data file. REQUIRES: FileList and FolderList hold the
  // folder's files and subfolders, collected by this conversion, at least one of them a file.
  void StartMigration(const std::string& sFolderName, const std::string& sFolderPath);

  const RunReport& Report() const { return report_; }

  // Where a record of every source file goes as the run goes (the command line's --report); none
  // by default. Not owned.
  void SetFileReport(FileReport* report) { fileReport_ = report; }
  // When set, a folder whose files were not all converted gets a tab-separated report of its
  // files next to its data file (the wizard's way of answering "which mails are missing?").
  void SetReportsBesideStores(bool on) { reportsBesideStores_ = on; }

 private:
  void RunSingle();
  void RunMultiple();
  void Finish();
  // The source folder in one written form: absolute, without "." or ".." or a trailing separator.
  static std::string SourceOf(const std::string& written);
  // Names the ticked rows from `from` on, which a stop leaves out, in the report.
  void NoteFoldersNotBegun(std::int32_t from);
  // Moves the folders the last collection could not read into the report.
  void ReportUnreadableFolders();
  // Collects the files and subfolders of `source` afresh and counts the files; returns `source` in
  // the form the collector walked it (with a trailing separator).
  std::string CollectFolder(const std::string& source);
  // What became of each collected file of the folder under conversion, by its FileList index.
  enum class FileState : unsigned char { kPending, kConverted, kFailed, kEmpty };
  void BeginFolderRecords();
  // Ends the folder's records: `saved` tells whether its data file was written, `storeCause` why
  // not. Moves the folder's counts into the report and hands every file's record on.
  void EndFolderRecords(bool saved, const std::string& storeCause);
  // The record of the file at `index` of FileList, once its folder's data file has been written
  // (`saved`) or has failed with `storeCause`.
  FileRecord RecordOf(std::size_t index, bool saved, const std::string& storeCause);
  void WriteReportBeside(std::size_t count, bool saved, const std::string& storeCause);

  // Per-folder stages; each returns false when the folder's conversion has ended.
  bool ChooseTarget(const std::string& sFolderName);
  bool OpenSession(const std::string& sFolderName);
  void SessionFailure(const std::string& cause);
  // The folder's data file could not be written: none of its messages is in a file.
  void StoreFailed(const std::string& cause);
  void MapFolders(const std::string& sFolderPath);
  // Creates the top-level folder `relative` unless it exists; "Inbox" and "Sent" are the store's
  // own default folders.
  void CreateTopLevelFolder(const std::string& relative);
  void CreateNestedFolder(const std::string& relative);
  // Returns true when the user confirmed Stop.
  bool ImportMessages();
  void ImportOne(std::size_t index, const std::string& path);
  std::string MessageFolderOf(const std::string& path);
  void CloseSession();

  // Looks up the folder at `relative` below the top folder, creating missing elements along the
  // path (each under the one before it) until the look-up succeeds or a pass makes no progress.
  quill::Result<std::unique_ptr<StoreFolder>> FolderWithRecovery(const std::string& relative);
  std::string StorePath(const std::string& relative) const;
  // `relative` (store separators, a trailing one kept) with the elements past the store's deepest
  // level joined into that level's name, so that a deeper tree loses nothing; noted in the report.
  std::string FoldDeepPath(const std::string& relative);
  std::string DefaultFolderName(int which);

  bool ConfirmStop();
  // A stop requested while the files were collected: true when the user confirms it; a declined
  // one is withdrawn.
  bool StopStands();
  void Yield() { host_.Yield(); }

  SharedState& shared_;
  Host& host_;
  StoreService& service_;
  std::unique_ptr<StoreSession> session_;
  Store* store_ = nullptr;
  RunReport report_;
  FileReport* fileReport_ = nullptr;
  bool reportsBesideStores_ = false;

  // Numbers the subfolders of every collection; never reset, so it counts across folders and runs.
  std::int32_t folderCounter_ = 0;
  // The number of files the last collection found, for the import's progress.
  std::int32_t itemCount_ = 0;
  // The folder under conversion's store: the stamp its names carry, the display name that begins
  // every folder path in it, and the names its store gave the default Inbox and Sent folders.
  std::string folderStamp_;
  std::string storeDisplayName_;
  std::string inboxName_;
  std::string sentName_;
  // The source root with its separator, cut from the front of every path found below it; empty
  // between folders.
  std::string sourceRoot_;

  // The folder under conversion: each file's state, the causes of those that failed, what a file
  // never reached is said to have met, the folders that could not be read, and the display name
  // and target its records are told under.
  std::vector<FileState> fileStates_;
  std::vector<std::pair<std::size_t, std::string>> fileCauses_;
  std::string notReachedCause_;
  enum class LeftBy { kNothing, kSkip, kStop };
  LeftBy leftBy_ = LeftBy::kNothing;
  std::vector<UnreadableFolder> folderUnreadable_;
  std::string folderName_;
  int folderImported_ = 0;
  std::set<std::string> foldedFolders_;  // deep folders already noted, by their folded name
};

}  // namespace engine
