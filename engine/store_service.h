// The store service as the engine calls it: sessions, stores, folders and messages of a mail store.
//
// The engine creates one session per source folder, opens (and so creates) the target file as a
// store through it, creates folders and messages, and logs off. The native PST writer implements
// these interfaces; the engine never sees the file format. Strings are UTF-8.
//
// Every failing operation returns a Status whose message is the failure's description. When
// GetFolderFromPath cannot find an element of a path, the description is exactly
//   Folder "NAME" does not exist
// with NAME the first element that is missing; the folder mapping reads the name out of it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/status.h"

namespace engine {

// Constants of the store service's calls.
inline constexpr int kStoreFormatUnicode = 1;  // LogonPstStore: a Unicode data file
inline constexpr int kDefaultFolderSent = 5;   // GetDefaultFolder
inline constexpr int kDefaultFolderInbox = 6;  // GetDefaultFolder
inline constexpr int kFolderKindMail = 6;      // Folders.Add
inline constexpr int kItemKindMail = 0;        // Items.Add
inline constexpr int kImportRfc822 = 1024;     // Import: a message file in RFC 822 (MIME) form
inline constexpr std::uint32_t kPropMessageFlags = 0x0E070003;
inline constexpr int kMessageFlagsRead = 1;
inline constexpr int kMessageFlagsHasAttach = 16;

// How many levels of folders the store takes below its top folder. A source tree deeper than this
// is folded into the deepest level (see the folder mapping), so the store stays one that readers
// and Outlook accept.
inline constexpr int kMaxFolderLevels = 63;

// The description Import gives for a message file of 0 bytes. There is nothing to convert, and the
// run reports the file as empty rather than as failed.
inline constexpr const char* kEmptyFileDescription = "the file is empty (0 bytes)";

// The message's underlying property object, handed to the utility object.
class MapiObject {
 public:
  virtual ~MapiObject() = default;
};

class StoreMessage {
 public:
  virtual ~StoreMessage() = default;
  // Fills the message from the message file at `path`. Fails only when the file cannot be read at
  // all; a malformed message is imported as well as it can be.
  virtual quill::Status Import(const std::string& path, int format) = 0;
  // Owned by the message; valid while it lives.
  virtual MapiObject* MAPIOBJECT() = 0;
  // Stores the message in its folder. A message destroyed without Save leaves no trace.
  virtual quill::Status Save() = 0;
  // After a successful Import: what the import repaired or kept in another form, one sentence
  // each ("messages enclosed deeper than 8 levels kept as an .eml attachment"); empty when
  // nothing was.
  virtual std::vector<std::string> ImportNotes() const { return {}; }
};

class StoreFolder {
 public:
  virtual ~StoreFolder() = default;
  virtual std::string Name() const = 0;
  // The names of the folder's subfolders, in the store's order.
  virtual quill::Result<std::vector<std::string>> FolderNames() = 0;
  // Folders.Add: a new subfolder. Fails when the name is taken (letter case ignored).
  virtual quill::Result<std::unique_ptr<StoreFolder>> AddFolder(const std::string& name, int kind) = 0;
  // Items.Add: a new, unsaved message in this folder.
  virtual quill::Result<std::unique_ptr<StoreMessage>> AddItem(int kind) = 0;
};

class Store {
 public:
  virtual ~Store() = default;
  virtual std::string EntryID() const = 0;
  // Makes sure the default folders exist.
  virtual quill::Status ValidateIPMTree() = 0;
  virtual quill::Result<std::unique_ptr<StoreFolder>> GetDefaultFolder(int which) = 0;
  virtual quill::Result<std::unique_ptr<StoreFolder>> IPMRootFolder() = 0;
};

class StoreSession {
 public:
  virtual ~StoreSession() = default;
  // Creates the data file at `path` as a store under `displayName` (a file there is replaced only
  // when Logoff completes the new one). The store is owned by the session.
  virtual quill::Result<Store*> LogonPstStore(const std::string& path, int format,
                                              const std::string& displayName) = 0;
  // The store with that entry id; reached directly or through the session's store list.
  virtual quill::Result<Store*> GetStoreFromID(const std::string& entryId) = 0;
  // "\\" + display name [+ "\" + relative path [+ "\"]]; the display name alone, with or without
  // a final "\", names the top folder.
  virtual quill::Result<std::unique_ptr<StoreFolder>> GetFolderFromPath(const std::string& path) = 0;
  // Ends the session: completes the data file and puts it in place. Destroying a session that has
  // not logged off discards the file it was writing and leaves the target as it was.
  virtual quill::Status Logoff() = 0;
  // Where Logoff put the data file: the target, or the next free name when another file took the
  // target meanwhile. Empty until a Logoff has succeeded.
  virtual std::string WrittenPath() const { return {}; }

  // Read-ahead, optional. The engine names the message files it will import, in order, before it
  // imports them; a session may read and parse them on other threads meanwhile. Returns false
  // when the session takes no more for now (always, by default). Importing a file never named,
  // or out of order, stays correct.
  virtual bool WillImport(const std::string& path) {
    (void)path;
    return false;
  }
  // How the session gives the caller's event loop a turn while it waits on another thread.
  virtual void SetYield(std::function<void()> yield) { (void)yield; }
};

// The utility object: sets one property of a message.
class MapiUtils {
 public:
  virtual ~MapiUtils() = default;
  virtual quill::Status HrSetOneProp(MapiObject* object, std::uint32_t tag, int value, bool save) = 0;
};

// Creates the store service's objects by name, as the engine needs them.
class StoreService {
 public:
  virtual ~StoreService() = default;
  virtual quill::Result<std::unique_ptr<StoreSession>> CreateSession() = 0;
  virtual quill::Result<std::unique_ptr<MapiUtils>> CreateUtils() = 0;
};

}  // namespace engine
