// The temporary files of the file writers now open, for a program that must end at once.
//
// A writer's temporary file normally goes when the writer is closed or destroyed. A program that
// ends without unwinding (a second Ctrl-C handled by _exit) calls RemoveLiveTemporaryFiles first,
// so that it leaves neither a half-written file nor a temporary one; the target stays as it was.
#pragma once

namespace pst::ndb {

// Unlinks the temporary file of every writer now open. Async-signal-safe: it allocates nothing
// and takes no lock, so a signal handler may call it. Writers go on failing cleanly afterwards.
void RemoveLiveTemporaryFiles();

namespace internal {

// The writers' side. A slot holds the folder (as an open descriptor) and the file's name in it;
// -1 when the table is full, in which case only a later run's clean-up finds the file.
int RegisterLiveTemporaryFile(int dirFd, const char* name);
void UnregisterLiveTemporaryFile(int slot);

}  // namespace internal
}  // namespace pst::ndb
