// Reading, parsing and mapping message files ahead, on worker threads, while the caller writes
// earlier ones.
//
// Preparing a message file (reading it, decoding its parts, mapping it onto store properties) is
// independent of the store file, so it can run on the machine's other cores while the caller's
// thread writes the previous message. It also keeps the caller's thread responsive: a 50 MB
// message is parsed elsewhere while the caller waits in short slices, calling its yield function
// between them.
//
// The caller offers the paths it will import next, in order, then takes each result. Taking a
// path that was never offered, or taking out of order, is still correct: results offered before
// it are dropped and the path is parsed at once.
//
// Memory is bounded by the files' sizes: a file starts only while the files in memory (being
// prepared, prepared and not yet taken, and the one taken last, which the caller is still
// writing) and it together stay within `maxHeldBytes`. A file whose size the file system does
// not give (size 0) counts as the whole bound until it is read, then as what it held. The one exception is
// the file the caller waits on, which always starts; so at most one file beyond the bound is ever in memory,
// whatever the sizes.
//
// Example:
//   ReadAhead ahead([options](const std::string& p, const FileFacts& f) { return PrepareMessage(p, f,
//   options); }); for (const auto& p : paths) if (!ahead.Offer(p)) break; PreparedMessage m =
//   ahead.Take(paths[0], [] { /* repaint */ });
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "common/status.h"
#include "mime/parsed_message.h"
#include "pst/import/message_builder.h"
#include "pst/messaging/message_content.h"

namespace pst::store {

// One message file, read, parsed and built for the store.
struct PreparedMessage {
  quill::Status status;       // Not ok when the file could not be read at all.
  std::size_t fileBytes = 0;  // The message bytes read, whatever the file system said.
  // What the parse repaired or kept in another form, for the user ("messages enclosed deeper
  // than 8 levels kept as an .eml attachment"), from the message and those it encloses.
  std::vector<std::string> notes;
  // As parsed, and as built from it. `message` borrows its attachments' bytes from `source`
  // (import::ImportOptions::borrowAttachmentData): the two move together, and moving `source`
  // leaves the bytes where they are.
  mime::ParsedMessage source;
  messaging::MessageContent message;
  // As `message` was built with; its attachments past kAttachmentsBuiltAhead are built with them
  // too, one at a time as they are written (import::BuildAttachment).
  import::ImportOptions options;
};

// A message with more attachments than this has only these built ahead, on the worker; each of
// the others is built as it is written and freed before the next, so that a message of very many
// small parts costs little more than its parse. Mail seldom has so many.
inline constexpr std::size_t kAttachmentsBuiltAhead = 64;

// What the file system says of a file before it is read.
struct FileFacts {
  std::size_t bytes = 0;                             // 0 when unknown.
  std::optional<std::chrono::sys_seconds> modified;  // Unset when the file could not be looked at.
};
FileFacts LookAtFile(const std::string& path);

// The notes of `content` and of every message it encloses, each once.
std::vector<std::string> NotesOf(const mime::ParsedMessage& content);

// Reads, parses and builds the file at `path`; never throws. `options` must not carry a name
// map (see import::DetachNameMap); the times are filled in here, the file's own from `facts`.
PreparedMessage PrepareMessage(const std::string& path, const FileFacts& facts,
                               import::ImportOptions options);
PreparedMessage PrepareMessage(const std::string& path, import::ImportOptions options);

class ReadAhead {
 public:
  // Prepares one file, given what was learnt of it when it was offered.
  using Prepare = std::function<PreparedMessage(const std::string&, const FileFacts&)>;
  struct Limits {
    std::size_t workers = DefaultWorkers();
    std::size_t maxQueued = 16;               // Offered and not yet taken.
    std::size_t maxHeldBytes = 32u << 20;     // Input bytes in memory at once (see above).
    std::chrono::milliseconds waitSlice{10};  // How long Take waits between two yields.
  };
  // One worker per core, up to four. Preparing is most of the work and the caller's thread mostly
  // waits on it, so a worker on every core measured faster than leaving the caller one of its own.
  static std::size_t DefaultWorkers();

  explicit ReadAhead(Prepare prepare) : ReadAhead(std::move(prepare), Limits{}) {}
  ReadAhead(Prepare prepare, Limits limits);
  // Waits for the files being prepared (not for the queued ones) and discards every result.
  ~ReadAhead();
  ReadAhead(const ReadAhead&) = delete;
  ReadAhead& operator=(const ReadAhead&) = delete;

  // Queues `path` to be prepared. False when the queue is full; offer it again later. Takes the
  // file's size, for the memory bound, from the file system.
  bool Offer(const std::string& path);
  // `path`, prepared, waiting for it in slices with `yield` called between them. Taking a
  // file tells that the caller is done with the one it took before.
  PreparedMessage Take(const std::string& path, const std::function<void()>& yield);

 private:
  struct Job {
    std::string path;
    FileFacts facts;  // Looked up when offered; the size is what the memory bound counts.
    bool started = false;
    bool done = false;
    bool dropped = false;     // Left the queue before it was taken; its result is thrown away.
    std::size_t charged = 0;  // What it counts against maxHeldBytes now.
    PreparedMessage result;
  };
  void Work();
  std::shared_ptr<Job> NextJobLocked();
  std::size_t ChargeWhileRunning(const Job& job) const;
  std::shared_ptr<Job> NewJob(const std::string& path) const;

  Prepare prepare_;
  Limits limits_;
  std::mutex mutex_;
  std::condition_variable workReady_;  // Workers wait here for a file they may start.
  std::condition_variable jobDone_;    // Take waits here for awaited_.
  std::deque<std::shared_ptr<Job>> queue_;
  std::shared_ptr<Job> awaited_;
  std::size_t heldBytes_ = 0;     // Of prepared files not yet taken.
  std::size_t runningBytes_ = 0;  // Of files being prepared.
  std::size_t takenBytes_ = 0;    // Of the file taken last, until the next Take.
  bool refilling_ = false;
  bool stopping_ = false;
  std::vector<std::thread> workers_;
};

}  // namespace pst::store
