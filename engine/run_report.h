// What one run did, so that its end can be told truthfully.
#pragma once

#include <string>
#include <vector>

namespace engine {

struct FailedFile {
  std::string path;
  std::string reason;
};

struct FailedStore {
  std::string folderName;  // the source folder whose data file could not be written
  std::string target;
  std::string cause;
};

struct WrittenStore {
  std::string folderName;
  std::string target;     // the data file actually written
  bool renamed = false;   // the planned name was taken, so the next free one was used
};

struct RunReport {
  bool singleMode = true;
  int foldersConverted = 0;   // folders whose data file was completed
  int messagesConverted = 0;  // message files imported and saved
  int messagesSeen = 0;       // message files the import loop reached
  std::vector<FailedFile> failedFiles;
  std::vector<FailedStore> failedStores;
  std::vector<WrittenStore> written;
  bool stopped = false;       // the user stopped the run
  int foldersSkipped = 0;     // folders whose conversion the user skipped
  std::string reportFile;  // tab-separated report of every file not converted, next to the data file; empty when none was written
  std::vector<std::string> foldersWithoutMail;  // source folders holding no message file: no data file was written for them
  bool saveCancelled = false;  // the user cancelled the Save dialog, so nothing was converted

  bool Clean() const { return failedFiles.empty() && failedStores.empty() && !stopped && foldersSkipped == 0; }
};

}  // namespace engine
