// FilePlacement: the temporary file a store is written into, and its move to the target.
//
// The file lies beside the target under a hidden name until it is complete; Place then moves it to
// the target. Until then the target is untouched; a killed process leaves at worst the temporary
// file, which the next placement in that folder removes. Abandon, or destroying the placement
// before Place succeeded, deletes the temporary file.
//
// Place replaces only the file that was at the target when the placement was created (the caller
// was allowed to replace that one). Should the target have been taken meanwhile by another file,
// the file goes to the next free name, "name (2).pst", "name (3).pst", ...; writtenPath() says
// where. While a placement is open, a second one for the same target cannot be created.
//
//   auto p = FilePlacement::Create("/x/out.pst", fs::SystemEnv());  // Result<unique_ptr<...>>
//   ... write into p->file() ...
//   quill::Status s = (*p)->Place(true);
//
// Not thread-safe. Errors: IOError (with the path and the system's reason) for anything the file
// system refuses; AlreadyExists "another conversion is writing <target>".
#pragma once

#include <memory>
#include <string>

#include "common/status.h"
#include "fs/env.h"

namespace pst::ndb {

class FilePlacement {
 public:
  // `env` must outlive the placement.
  static quill::Result<std::unique_ptr<FilePlacement>> Create(const std::string& targetPath, fs::Env& env);
  ~FilePlacement();
  FilePlacement(const FilePlacement&) = delete;
  FilePlacement& operator=(const FilePlacement&) = delete;

  // The temporary file, locked for as long as it is open. Owned by the placement.
  fs::WritableFile& file() { return *file_; }

  // Moves the complete file to the target, or beside it when another file took it. `sync` makes
  // the folder entry reach the disk too (the file's own data the caller has flushed). On failure
  // the temporary file stays, for Abandon. REQUIRES: nothing writes to file() any more.
  quill::Status Place(bool sync);

  // Removes the temporary file; the target is left as it was. Harmless when already placed.
  void Abandon();

  const std::string& targetPath() const { return targetPath_; }
  // Empty once placed or abandoned.
  const std::string& temporaryPath() const { return tempPath_; }
  // Where Place put the file. Empty until then.
  const std::string& writtenPath() const { return writtenPath_; }

 private:
  FilePlacement() = default;
  quill::Status IoError(const std::string& what, int err) const;
  quill::Status MoveIntoPlace();

  std::unique_ptr<fs::Directory> dir_;      // the target's folder: every name below is relative to it
  std::unique_ptr<fs::WritableFile> file_;  // the temporary file
  std::string targetPath_;
  std::string targetName_;
  std::string tempName_;
  std::string tempPath_;
  std::string writtenPath_;
  // The file at the target when the placement was created, if any: the only one Place replaces.
  bool replaceable_ = false;
  fs::FileInfo replaced_;
  int liveSlot_ = -1;
};

}  // namespace pst::ndb
