// The message import loop: every message file into the folder that matches its source folder,
// with progress after every file and the user's Skip and Stop requests looked at after each.
#include <algorithm>

#include "common/cancel.h"
#include "engine/conversion.h"
#include "engine/message_names.h"
#include "engine/strings.h"
#include "engine/texts.h"

namespace engine {

std::string Conversion::MessageFolderOf(const std::string& path) {
  // Only the leading root is the source's own: the same text further on is a folder's name.
  std::string folder = ParentWithSlash(path);
  if (StartsWith(folder, sourceRoot_)) folder.erase(0, sourceRoot_.size());
  if (fs::kPathSeparator != '\\') std::replace(folder.begin(), folder.end(), fs::kPathSeparator, '\\');
  if (const std::size_t bang = folder.find('!'); bang != std::string::npos) {
    Yield();
    folder = TrimSpaces(folder.substr(0, bang)) + "\\";
  }
  if (StartsWith(folder, "Inbox\\")) folder = ReplaceAll(folder, "Inbox", inboxName_);
  if (StartsWith(folder, "Sent\\") && folder.size() > 5)
    folder = sentName_ + folder.substr(folder.find('\\'));
  if (folder == "Sent\\") folder = sentName_ + "\\";
  if (StartsWith(folder, "\\")) folder.erase(0, 1);
  return FoldDeepPath(folder);
}

bool Conversion::ConfirmStop() {
  if (shared_.StopConfirmed) return true;
  return host_.MsgBox(ConfirmStopText(), MsgBoxStyle::kPlainYesNo, "Confirm Stop") == MsgBoxResult::kYes;
}

bool Conversion::ImportMessages() {
  ProgressControls& progress = host_.Progress();
  std::int32_t fileNumber = 1;  // counts every file, message or not, as the progress shows them
  const fs::KeyedList& files = shared_.FileList;
  std::size_t offered = 0;  // files from here on not yet named to the session's read-ahead
  for (std::size_t i = 0; i < files.Count(); ++i) {
    for (offered = std::max(offered, i); offered < files.Count(); ++offered) {
      const std::string next(files.Item(offered));
      if (IsMessageFileName(next) && !session_->WillImport(next)) break;
    }
    if (const std::string path(files.Item(i)); IsMessageFileName(path)) ImportOne(i, path);

    progress.FrameConversion = "Reading Messages && Email Metadata - (" + std::to_string(fileNumber) +
                               " of " + std::to_string(itemCount_) + ") File(s)";
    progress.ProgressBar1Value = static_cast<float>(static_cast<double>(fileNumber) / itemCount_ * 100);
    ++fileNumber;
    progress.lblProgress = std::to_string(RoundHalfEven(progress.ProgressBar1Value)) + "% Complete";

    if (shared_.SkipRequested) {
      if (host_.MsgBox(ConfirmSkipText(), MsgBoxStyle::kPlainYesNo, "Confirm Skip") == MsgBoxResult::kYes) {
        Yield();
        progress.lblProgress = "Skipped... at " + progress.lblProgress;
        progress.lblCount1 = "Checking Next Folder...";
        leftBy_ = LeftBy::kSkip;
        notReachedCause_ = "the folder was skipped by the user";
        return false;
      }
      shared_.SkipRequested = false;
    }
    if (shared_.StopRequested) {
      if (ConfirmStop()) {
        Yield();
        progress.lblProgress = "Stopped... at " + progress.lblProgress;
        progress.lblCount1 = "Stopped...";
        leftBy_ = LeftBy::kStop;
        notReachedCause_ = "the run was stopped before this file was converted";
        host_.UnloadSinglePage();
        return true;
      }
      shared_.StopRequested = false;
    }
  }
  return false;
}

void Conversion::ImportOne(std::size_t index, const std::string& path) {
  Yield();
  host_.Progress().LblCurrentDBX = "Converting Messages... from (" + path + ")";
  ++report_.messagesSeen;
  const auto fail = [&](const quill::Status& status) {
    report_.failedFiles.push_back({path, status.message()});
    fileStates_[index] = FileState::kFailed;
    fileCauses_.emplace_back(index, status.message());
  };

  // A folder the mapping did not create (a special name, a "!" folder) is created along the path,
  // so that no message is lost for want of its folder.
  const std::string messageFolder = MessageFolderOf(path);
  auto folder = FolderWithRecovery(messageFolder);
  if (!folder.ok()) return fail(folder.status());
  auto message = folder.value()->AddItem(kItemKindMail);
  folder.value().reset();
  if (!message.ok()) return fail(message.status());

  Yield();
  // A file that cannot be imported gets no empty message in its place: it is reported instead.
  if (quill::Status imported = message.value()->Import(path, kImportRfc822); !imported.ok()) {
    // Cut short by a stop: the file was not converted, and the stop's own record says why.
    if (quill::IsStopped(imported)) return;
    if (imported.message() != kEmptyFileDescription) return fail(imported);
    // Nothing to convert: no empty message stands in for it, and it is not counted as converted.
    ++report_.messagesEmpty;
    fileStates_[index] = FileState::kEmpty;
    fileCauses_.emplace_back(index, imported.message());
    return;
  }
  std::string notes;  // kept with the file's record: the report tells what was kept in another form
  for (const std::string& note : message.value()->ImportNotes()) {
    report_.notes.push_back(LastPathPart(path) + ": " + note);
    notes += (notes.empty() ? "" : "; ") + note;
  }
  if (auto utils = service_.CreateUtils(); utils.ok()) {
    // Flags that could not be set leave the message as its store makes it, unread: all it holds
    // is kept, so the message is saved all the same.
    (void)utils.value()->HrSetOneProp(message.value()->MAPIOBJECT(), kPropMessageFlags,
                                      kMessageFlagsRead | kMessageFlagsHasAttach, true);
  }
  Yield();
  if (quill::Status saved = message.value()->Save(); !saved.ok()) return fail(saved);
  fileStates_[index] = FileState::kConverted;
  if (!notes.empty()) fileCauses_.emplace_back(index, "note: " + notes);
  ++folderImported_;
}

}  // namespace engine
