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
  // folder's files and subfolders, ItemCount is at least 1.
  void StartMigration(const std::string& sFolderName, const std::string& sFolderPath);

  const RunReport& Report() const { return report_; }

  // Working state, under the names the rest of the program knows them by.
  std::string SourceFolder;
  std::string FilePattern;
  std::int32_t fileCounter = 1;
  std::int32_t folderCounter = 0;
  std::int32_t ItemCount = 0;
  std::string FolderStamp;
  std::string StoreDisplayName;
  std::string InboxName;
  std::string SentName;
  std::string SourceRoot;
  std::vector<std::string> FolderPaths;
  std::string LeafName;
  std::string ParentPath;
  std::string MissingName;
  std::int32_t FileNumber = 0;

 private:
  void RunSingle();
  void RunMultiple();
  void Finish();
  // Collects the files and subfolders of `source` afresh; sets ItemCount.
  void CollectFolder(const std::string& source);

  // Per-folder stages; each returns false when the folder's conversion has ended.
  bool ChooseTarget(const std::string& sFolderName);
  bool OpenSession(const std::string& sFolderName);
  void SessionFailure(const std::string& cause);
  void MapFolders(const std::string& sFolderPath);
  void CreateTopLevelFolder(std::string& p);
  void CreateNestedFolder(const std::string& p);
  // Returns true when the user confirmed Stop.
  bool ImportMessages();
  void ImportOne(const std::string& path);
  std::string MessageFolderOf(const std::string& path);
  void CloseSession();

  // Looks up the folder at `relative` below the top folder, creating missing elements along the
  // path (each under the one before it) until the look-up succeeds or a pass makes no progress.
  quill::Result<std::unique_ptr<StoreFolder>> FolderWithRecovery(const std::string& relative);
  std::string StorePath(const std::string& relative) const;
  std::string DefaultFolderName(int which);

  bool ConfirmStop();
  void Yield() { host_.Yield(); }

  SharedState& shared_;
  Host& host_;
  StoreService& service_;
  std::unique_ptr<StoreSession> session_;
  Store* store_ = nullptr;
  RunReport report_;
};

}  // namespace engine
