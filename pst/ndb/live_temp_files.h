// The temporary files of the file writers now open, for a program that must end at once.
//
// A writer's temporary file normally goes when the writer is closed or destroyed. A program that
// ends without unwinding (a second Ctrl-C handled by _exit) calls RemoveLiveTemporaryFiles first,
// so that it leaves neither a half-written file nor a temporary one; the target stays as it was.
//
// One file per system: live_temp_files_posix.cpp (unlinkat from a signal handler) and
// live_temp_files_win32.cpp, which also removes the files itself when the console ends the
// process (Ctrl-C, Ctrl-Break, its window closed), since Windows ends a console program by
// ExitProcess, without unwinding, unless the program handles the event first.
#pragma once

#include <string>

#include "fs/env.h"

namespace pst::ndb {

// Unlinks the temporary file of every writer now open. Async-signal-safe: it allocates nothing
// and takes no lock, so a signal handler may call it. Writers go on failing cleanly afterwards.
void RemoveLiveTemporaryFiles();

namespace internal {

// The writers' side. A slot holds the folder (as the system knows it: an open descriptor, or a
// path on Windows) and the file's name in it; -1 when the table is full or the folder is not the
// system's (in memory), in which case only a later run's clean-up finds the file.
int RegisterLiveTemporaryFile(const fs::Directory& dir, const std::string& name);
void UnregisterLiveTemporaryFile(int slot);

}  // namespace internal
}  // namespace pst::ndb
