// Reading one saved mail file (.eml, .emlx, or a one-message mbox) into a ParsedMessage.
//
// The file's content decides how it is read, never its name: an .emlx byte-count line and
// property list, a leading mbox "From " line and a UTF-8 byte-order mark are recognised and
// passed over. Parsing is best effort and bounded: damaged, truncated, enormous or non-mail input
// still gives a ParsedMessage (see its `notes`), never a crash or an error.
//
// Example:
//   // On failure returns IOError "No such file or directory: /x/a.eml".
//   QUILL_ASSIGN_OR_RETURN(mime::ParsedMessage m, mime::ReadMessageFile(path));
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "common/status.h"
#include "fs/env.h"
#include "mime/parsed_message.h"

namespace mime {

// The cause given for a path that is not a regular file.
inline constexpr const char* kNotRegularFile = "not a regular file";
// The cause given for a file that grew while it was read.
inline constexpr const char* kFileGrew = "the file grew while it was read";

// The largest message file read. A message, decoded, needs about its own size in memory next to
// the file's bytes, and every part of the converter is bounded by the largest message it takes
// plus 100 MB; 512 MiB keeps that within reach of a small machine, lies far above what mail
// systems carry (their limits are tens of MB, a .pst attachment 4 GiB), and under the 4 GiB a
// GByteArray can hold. A larger file is refused unread: "message file larger than 512 MiB: PATH".
inline constexpr size_t kMaxMessageFileBytes = size_t{512} << 20;

// How deep enclosed messages are parsed into the model at most.
inline constexpr int kMaxEmbeddedDepth = 32;

class MessageFile;
namespace internal {
// For tests and benchmarks only: whether `file` was parsed by the structural parser.
bool ParsedByStructuralParser(const MessageFile& file);
}  // namespace internal

// One file's bytes together with their parse: by a structural parser for the well-formed
// messages it accepts, by GMime for all others. It owns the buffer and the
// parse; a ParsedMessage built from it owns copies and outlives it freely.
// Movable, not copyable. One MessageFile is used from one thread at a time; separate files are
// read and parsed on separate threads at once (the store's read-ahead does).
class MessageFile {
 public:
  // Reads the whole file at `path` and parses it.
  // Errors: IOError "<strerror text>: <path>" when the file cannot be opened or read (missing,
  // unreadable, a directory); "not a regular file: <path>" for a FIFO, socket or device (links
  // to regular files are followed); "message file larger than 512 MiB: <path>" past
  // kMaxMessageFileBytes; "the file grew while it was read: <path>"; "stopped by the user" after
  // a stop request. Everything about the content itself is tolerated.
  static quill::Result<MessageFile> Open(const std::string& path);
  // The same, reading through `env` (a file system in memory, or one that fails on purpose).
  static quill::Result<MessageFile> Open(const std::string& path, fs::Env& env);

  // Parses a message held in memory (the bytes are copied).
  static MessageFile FromBytes(std::string_view bytes);

  MessageFile(MessageFile&&) noexcept;
  MessageFile& operator=(MessageFile&&) noexcept;
  MessageFile(const MessageFile&) = delete;
  MessageFile& operator=(const MessageFile&) = delete;
  ~MessageFile();

  // Builds the model. Every call builds a fresh one. Messages enclosed more than
  // `max_embedded_depth` levels deep (at most kMaxEmbeddedDepth) are kept whole as .eml
  // attachments (raw message/rfc822 bytes), with a note: a store that nests fewer levels than
  // MIME allows loses nothing.
  ParsedMessage Content(int max_embedded_depth = kMaxEmbeddedDepth) const;
  // Builds the model once, giving the memory of each huge part's bytes back to the system as it
  // is decoded, so that a message costs about its size once, not its encoded and decoded size
  // together. The file is empty afterwards.
  ParsedMessage ConsumeContent(int max_embedded_depth = kMaxEmbeddedDepth) &&;

  // The message bytes held: the file's size as read (after any repair).
  size_t size() const;

 private:
  friend bool internal::ParsedByStructuralParser(const MessageFile& file);
  struct Rep;
  explicit MessageFile(std::unique_ptr<Rep> rep);
  std::unique_ptr<Rep> rep_;
};

// MessageFile::Open(path) followed by Content().
// A stop request (common/cancel.h) cuts reading and decoding short; the result is then
// quill::StoppedStatus() ("stopped by the user"), never a half-built message.
quill::Result<ParsedMessage> ReadMessageFile(const std::string& path);

// MessageFile::FromBytes(bytes) followed by Content().
ParsedMessage ParseMessage(std::string_view bytes);

namespace internal {
// For tests and benchmarks only: from now on every parse in this process uses GMime alone (true)
// or the structural parser where it accepts the message (false, the default).
void ForceGMimeParser(bool force);
}  // namespace internal

}  // namespace mime
