// CollectFiles: walks a folder tree and lists its subfolders and files, depth first.
//
// For each folder, all its subfolders are listed first (in the order the directory search returns
// them), then its files, then each subfolder is walked the same way. So a folder's files always
// stand before those of its subfolders, and a folder's subfolders are listed before any of theirs.
// The walk is not recursive on the call stack, so a tree of any depth is safe, and each real
// directory is walked at most once, so a link leading back up the tree cannot make it endless
// (the link itself is still listed as a folder).
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "common/status.h"
#include "fs/keyed_list.h"

namespace fs {

// How a walk reports progress and lets the program breathe.
struct CollectorHooks {
  // Shows the running count: called after every file with "<n> Messages Queued for Conversion.".
  std::function<void(const std::string& caption)> setCountCaption;
  // Called at the fixed points of the walk, so that pending window events can run.
  std::function<void()> yield;
  // Called for every folder whose entries could not be read (the root included), with the
  // platform's reason ("Permission denied"). The walk goes on with the other folders; what the
  // folder holds is unknown, so the caller must tell the user rather than pass over it.
  std::function<void(const std::string& folder, const std::string& cause)> folderUnreadable;
};

// Walks `folder` (a separator is appended to the caller's variable when it lacks one), adding every
// subfolder to `folderList` under "Z" + folderCounter and every file matching `pattern` to
// `fileList` under "K" + fileCounter; both counters hold the number for the next item. Returns the
// first failure that stops the walk: a key already present (AlreadyExists) or a counter that
// would pass 2,147,483,647 (InvalidArgument). A folder that cannot be searched adds nothing
// and is named through `hooks.folderUnreadable`.
quill::Status CollectFiles(std::string& folder, const std::string& pattern, std::int32_t& fileCounter,
                           std::int32_t& folderCounter, KeyedList& fileList, KeyedList& folderList,
                           const CollectorHooks& hooks);

}  // namespace fs
