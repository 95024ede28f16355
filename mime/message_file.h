// Reading one saved mail file (.eml, .emlx, or a one-message mbox) into a MessageContent.
//
// The file's content decides how it is read, never its name: an .emlx byte-count line and
// property list, a leading mbox "From " line and a UTF-8 byte-order mark are recognised and
// passed over. Parsing is best effort and bounded: damaged, truncated, enormous or non-mail input
// still gives a MessageContent (see its `notes`), never a crash or an error.
//
// Example:
//   quill::Result<mime::MessageContent> m = mime::ReadMessageFile(path);
//   if (!m.ok()) return m.status();   // IOError "No such file or directory: /x/a.eml"
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "common/status.h"
#include "mime/message_content.h"

namespace mime {

// One file's bytes together with GMime's parse of them. It owns the buffer, the stream over it
// and the parsed message; a MessageContent built from it owns copies and outlives it freely.
// Movable, not copyable. Use from one thread; parsing on several threads at once is untested.
class MessageFile {
 public:
  // Reads the whole file at `path` and parses it.
  // Errors: IOError "<strerror text>: <path>" when the file cannot be opened or read (missing,
  // unreadable, a directory, 2 GiB or more). Everything about the content itself is tolerated.
  static quill::Result<MessageFile> Open(const std::string& path);

  // Parses a message held in memory (the bytes are copied).
  static MessageFile FromBytes(std::string_view bytes);

  MessageFile(MessageFile&&) noexcept;
  MessageFile& operator=(MessageFile&&) noexcept;
  MessageFile(const MessageFile&) = delete;
  MessageFile& operator=(const MessageFile&) = delete;
  ~MessageFile();

  // Builds the model. Every call builds a fresh one.
  MessageContent Content() const;

 private:
  struct Rep;
  explicit MessageFile(std::unique_ptr<Rep> rep);
  std::unique_ptr<Rep> rep_;
};

// MessageFile::Open(path) followed by Content().
quill::Result<MessageContent> ReadMessageFile(const std::string& path);

// MessageFile::FromBytes(bytes) followed by Content().
MessageContent ParseMessage(std::string_view bytes);

}  // namespace mime
