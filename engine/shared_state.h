// The program-wide state that the pages, the progress window and the engine share.
#pragma once

#include <string>

#include "fs/keyed_list.h"

namespace engine {

struct SharedState {
  // Every file and every subfolder found under the folder being converted.
  fs::KeyedList FileList;
  fs::KeyedList FolderList;
  // Set by the progress window's Skip and Stop buttons; the engine asks for confirmation.
  bool SkipRequested = false;
  bool StopRequested = false;
  // Set with StopRequested when the progress window was closed (or the command line was
  // interrupted): the user has already said yes, so the engine stops without asking again.
  bool StopConfirmed = false;
  // The data file being written; the store's entry id; the trimmed output folder (multiple mode).
  std::string TargetPstPath;
  std::string StoreEntryID;
  std::string OutputFolder;
  // True while a run is active: exactly one run at a time.
  bool RunActive = false;
};

}  // namespace engine
