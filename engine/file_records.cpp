// What became of each file of the folder under conversion, told once its data file is written or
// has failed: only then is "converted" true. Feeds the run's counts, the report of the run and,
// in the wizard, the report written beside a data file that is missing anything.
#include <algorithm>
#include <cctype>

#include "engine/conversion.h"
#include "engine/message_names.h"
#include "engine/report_file.h"

namespace engine {
namespace {

bool EndsWithPst(const std::string& path) {
  std::string tail = path.substr(path.size() - 4);
  std::transform(tail.begin(), tail.end(), tail.begin(), [](unsigned char c) { return std::tolower(c); });
  return tail == ".pst";
}

}  // namespace

void Conversion::BeginFolderRecords() {
  fileStates_.assign(shared_.FileList.Count(), FileState::kPending);
  fileCauses_.clear();
  notReachedCause_.clear();
  leftBy_ = LeftBy::kNothing;
  folderImported_ = 0;
}

void Conversion::EndFolderRecords(bool saved, const std::string& storeCause) {
  const fs::KeyedList& files = shared_.FileList;
  const std::string notSaved = "the data file could not be written: " + storeCause;
  std::sort(fileCauses_.begin(), fileCauses_.end());
  auto cause = fileCauses_.begin();
  int notReached = 0;
  bool anythingMissing = !folderUnreadable_.empty();
  const bool keepRecords = reportsBesideStores_;
  std::vector<FileRecord> kept;

  for (std::size_t i = 0; i < files.Count() && i < fileStates_.size(); ++i) {
    FileRecord record;
    record.path = std::string(files.Item(i));
    if (!IsMessageFileName(record.path)) {
      record.outcome = FileOutcome::kSkipped;
      record.cause = "not a message file (.eml or .emlx)";
    } else {
      if (!SourceRoot.empty()) {
        record.storeFolder = MessageFolderOf(record.path);
        if (!record.storeFolder.empty() && record.storeFolder.back() == '\\') record.storeFolder.pop_back();
      }
      switch (fileStates_[i]) {
        case FileState::kConverted:
          record.outcome = saved ? FileOutcome::kConverted : FileOutcome::kNotSaved;
          if (!saved) record.cause = notSaved;
          break;
        case FileState::kFailed:
        case FileState::kEmpty:
          record.outcome = fileStates_[i] == FileState::kEmpty ? FileOutcome::kEmpty : FileOutcome::kFailed;
          while (cause != fileCauses_.end() && cause->first < i) ++cause;
          if (cause != fileCauses_.end() && cause->first == i) record.cause = cause->second;
          break;
        case FileState::kPending:
          ++notReached;
          if (notReachedCause_.empty()) {
            record.outcome = FileOutcome::kNotSaved;
            record.cause = notSaved;
          } else {
            record.outcome = FileOutcome::kSkipped;
            record.cause = notReachedCause_;
          }
          break;
      }
      anythingMissing = anythingMissing || record.outcome != FileOutcome::kConverted;
    }
    if (fileReport_ != nullptr) fileReport_->Add(record);
    if (keepRecords) kept.push_back(std::move(record));
  }

  if (saved) report_.messagesConverted += folderImported_;
  // A skip or a stop after the folder's last message left nothing out: nothing to tell.
  if (notReached > 0 && leftBy_ != LeftBy::kNothing) {
    std::string path = SourceRoot;
    if (path.size() > 1 && path.back() == fs::kPathSeparator) path.pop_back();
    report_.leftOut.push_back({folderName_, path, notReached});
    if (leftBy_ == LeftBy::kSkip) ++report_.foldersSkipped;
    if (leftBy_ == LeftBy::kStop) report_.stopped = true;
  }
  if (keepRecords && anythingMissing && !report_.cancelled) {
    for (const UnreadableFolder& folder : folderUnreadable_) {
      kept.push_back({folder.path, FileOutcome::kFailed, "", "the folder could not be read: " + folder.cause});
    }
    WriteReportBeside(kept);
  }
  fileStates_.clear();
  fileCauses_.clear();
}

void Conversion::WriteReportBeside(const std::vector<FileRecord>& records) {
  std::string target = report_.written.empty() ? std::string() : report_.written.back().target;
  if (target.empty() && !report_.failedStores.empty()) target = report_.failedStores.back().target;
  if (target.empty()) return;
  std::string stem = target;
  if (stem.size() > 4 && EndsWithPst(stem)) stem.resize(stem.size() - 4);
  const std::string path = stem + " - conversion report.tsv";
  TsvReportFile file;
  quill::Status status = file.Open(path);
  if (status.ok()) {
    for (const FileRecord& record : records) file.Add(record);
    status = file.Close();
  }
  if (status.ok()) {
    report_.reportFile = path;
  } else {
    report_.notes.push_back("The report of the files not converted could not be written: " + status.message());
  }
}

}  // namespace engine
