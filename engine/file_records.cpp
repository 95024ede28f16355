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
  std::transform(tail.begin(), tail.end(), tail.begin(),
                 [](unsigned char letter) { return std::tolower(letter); });
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

FileRecord Conversion::RecordOf(std::size_t index, bool saved, const std::string& storeCause) {
  FileRecord record;
  record.path = std::string(shared_.FileList.Item(index));
  if (!IsMessageFileName(record.path)) {
    record.outcome = FileOutcome::kSkipped;
    record.cause = "not a message file (.eml or .emlx)";
    return record;
  }
  if (!sourceRoot_.empty()) {
    record.storeFolder = MessageFolderOf(record.path);
    if (!record.storeFolder.empty() && record.storeFolder.back() == '\\') record.storeFolder.pop_back();
  }
  const std::string notSaved = "the data file could not be written: " + storeCause;
  // A failed or empty file's cause, or the notes of a converted one ("note: ...").
  const auto cause = std::lower_bound(fileCauses_.begin(), fileCauses_.end(), index,
                                      [](const auto& entry, std::size_t i) { return entry.first < i; });
  const std::string own = cause != fileCauses_.end() && cause->first == index ? cause->second : std::string();
  switch (fileStates_[index]) {
    case FileState::kConverted:
      record.outcome = saved ? FileOutcome::kConverted : FileOutcome::kNotSaved;
      record.cause = saved ? own : notSaved;
      break;
    case FileState::kFailed:
    case FileState::kEmpty:
      record.outcome = fileStates_[index] == FileState::kEmpty ? FileOutcome::kEmpty : FileOutcome::kFailed;
      record.cause = own;
      break;
    case FileState::kPending:
      record.outcome = notReachedCause_.empty() ? FileOutcome::kNotSaved : FileOutcome::kSkipped;
      record.cause = notReachedCause_.empty() ? notSaved : notReachedCause_;
      break;
  }
  return record;
}

void Conversion::EndFolderRecords(bool saved, const std::string& storeCause) {
  std::sort(fileCauses_.begin(), fileCauses_.end());
  const std::size_t count = std::min(shared_.FileList.Count(), fileStates_.size());
  int notReached = 0;
  bool anythingMissing = !folderUnreadable_.empty();
  for (std::size_t i = 0; i < count; ++i) {
    const FileState state = fileStates_[i];
    if (state == FileState::kConverted && saved) {
      // The common case needs no record unless one is asked for.
      if (fileReport_ != nullptr) fileReport_->Add(RecordOf(i, saved, storeCause));
      continue;
    }
    if (!IsMessageFileName(std::string(shared_.FileList.Item(i)))) {
      if (fileReport_ != nullptr) fileReport_->Add(RecordOf(i, saved, storeCause));
      continue;
    }
    if (state == FileState::kPending) ++notReached;
    anythingMissing = true;
    if (fileReport_ != nullptr) fileReport_->Add(RecordOf(i, saved, storeCause));
  }

  if (saved) report_.messagesConverted += folderImported_;
  // A skip or a stop after the folder's last message left nothing out: nothing to tell.
  if (notReached > 0 && leftBy_ != LeftBy::kNothing) {
    std::string path = sourceRoot_;
    if (path.size() > 1 && path.back() == fs::kPathSeparator) path.pop_back();
    report_.leftOut.push_back({folderName_, path, notReached});
    if (leftBy_ == LeftBy::kSkip) ++report_.foldersSkipped;
    if (leftBy_ == LeftBy::kStop) report_.stopped = true;
  }
  // Written in a second pass, so that a folder of a million files needs no list of their records.
  if (reportsBesideStores_ && anythingMissing && !report_.cancelled)
    WriteReportBeside(count, saved, storeCause);
  fileStates_.clear();
  fileCauses_.clear();
}

void Conversion::WriteReportBeside(std::size_t count, bool saved, const std::string& storeCause) {
  std::string target = report_.written.empty() ? std::string() : report_.written.back().target;
  if (target.empty() && !report_.failedStores.empty()) target = report_.failedStores.back().target;
  if (target.empty()) return;
  std::string stem = target;
  if (stem.size() > 4 && EndsWithPst(stem)) stem.resize(stem.size() - 4);
  const std::string path = stem + " - conversion report.tsv";
  TsvReportFile file;
  quill::Status status = file.Open(path);
  if (status.ok()) {
    for (std::size_t i = 0; i < count; ++i) file.Add(RecordOf(i, saved, storeCause));
    for (const UnreadableFolder& folder : folderUnreadable_) {
      file.Add({folder.path, FileOutcome::kFailed, "", "the folder could not be read: " + folder.cause});
    }
    status = file.Close();
  }
  if (status.ok()) {
    report_.reportFile = path;
  } else {
    report_.notes.push_back("The report of the files not converted could not be written: " +
                            status.message());
  }
}

}  // namespace engine
