// What one run did, so that its end can be told truthfully: counts and lists for the summary, and
// one record per source file for the report of the run.
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
  int messagesLost = 0;  // messages imported into it that are therefore not saved anywhere
};

struct WrittenStore {
  std::string folderName;
  std::string target;    // the data file actually written
  bool renamed = false;  // the planned name was taken, so the next free one was used
};

// A folder of the source whose entries could not be read: what it holds is not converted.
struct UnreadableFolder {
  std::string path;
  std::string cause;
};

// A source folder the user skipped (or a stop left out): how many of its message files were left.
struct LeftOutFolder {
  std::string folderName;
  std::string path;
  int messagesLeft = 0;
};

// What became of one source file.
enum class FileOutcome { kConverted, kFailed, kEmpty, kSkipped, kNotSaved };

// One line of the report of a run: a source file, what became of it, the store folder it went to
// (or was meant for) and, unless it was converted, why not.
struct FileRecord {
  std::string path;
  FileOutcome outcome = FileOutcome::kConverted;
  std::string storeFolder;
  std::string cause;
};

// "converted", "failed", "empty", "skipped", "not saved": the words the report uses.
const char* OutcomeName(FileOutcome outcome);

// Where the records of a run go as the run makes them; one record per file, once its folder's data
// file has been written or has failed, so that "converted" is only said of what is in a file.
class FileReport {
 public:
  virtual ~FileReport() = default;
  virtual void Add(const FileRecord& record) = 0;
};

struct RunReport {
  bool singleMode = true;
  int foldersConverted = 0;   // folders whose data file was completed
  int messagesConverted = 0;  // message files imported and saved in a data file that was written
  int messagesSeen = 0;       // message files the import loop reached
  int messagesEmpty = 0;      // message files of 0 bytes: nothing to convert
  std::vector<FailedFile> failedFiles;
  std::vector<FailedStore> failedStores;
  std::vector<WrittenStore> written;
  std::vector<UnreadableFolder> unreadableFolders;
  std::vector<LeftOutFolder> leftOut;  // skipped folders, and those a stop left out
  std::vector<std::string> notes;      // what was kept in another form than usual, per file
  bool stopped = false;                // the user stopped the run before everything was converted
  bool cancelled = false;              // the user cancelled the Save dialog: nothing was begun
  int foldersSkipped = 0;              // folders whose conversion the user skipped
  // The tab-separated report of every file not converted and why, written next to the data file
  // when anything was not converted; empty when none was written.
  std::string reportFile;
  std::vector<std::string>
      foldersWithoutMail;  // source folders holding no message file: no data file was written for them

  bool Clean() const {
    return failedFiles.empty() && failedStores.empty() && unreadableFolders.empty() && !stopped &&
           foldersSkipped == 0 && messagesEmpty == 0;
  }
};

}  // namespace engine
