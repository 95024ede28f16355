// An in-memory store service for the engine's tests: folders and saved messages kept in a tree,
// with failures that a test can inject. It checks what it is told the way the real store does
// (folder names ignore letter case; a missing path element is reported by name).
#pragma once

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "engine/store_service.h"

namespace engine::testing {

struct FakeFolder {
  std::string name;
  std::vector<std::unique_ptr<FakeFolder>> children;
  std::vector<std::string> messages;  // the source path of every saved message
  std::map<std::string, int> flags;   // source path -> message flags set

  FakeFolder* Child(const std::string& childName);  // letter case ignored; null when absent
};

struct FakeStoreData {
  std::string path;
  std::string displayName;
  FakeFolder top;  // the IPM subtree
  bool loggedOff = false;
};

class FakeStoreService : public StoreService {
 public:
  quill::Result<std::unique_ptr<StoreSession>> CreateSession() override;
  quill::Result<std::unique_ptr<MapiUtils>> CreateUtils() override;

  // Injected failures.
  std::set<std::string> failLogonFor;   // target paths whose store cannot be opened
  std::set<std::string> failImportOf;   // file names (last part) whose import fails
  std::set<std::string> failLogoffFor;  // target paths whose data file cannot be completed
  std::set<std::string> failSaveOf;     // file names (last part) whose message cannot be saved
  std::set<std::string> failAddFolder;  // folder names that cannot be created (letter case kept)
  int savesRefused = 0;
  int foldersRefused = 0;

  // Read-ahead: how many files a session takes ahead of the one being imported (0: none), and the
  // order in which files were named to it ("offer NAME") and imported ("import NAME").
  std::size_t readAheadWindow = 0;
  std::vector<std::string> readAheadLog;

  // Every store opened, in order; kept after log-off.
  std::vector<std::shared_ptr<FakeStoreData>> stores;
  int sessionsCreated = 0;
  int sessionsReleasedWithoutLogoff = 0;

  // "Inbox/Sub" -> the folder below the top, or null.
  static const FakeFolder* Find(const FakeStoreData& store, const std::string& slashPath);
  // Every folder path below the top, "/"-separated, in tree order.
  static std::vector<std::string> FolderPaths(const FakeStoreData& store);
};

}  // namespace engine::testing
