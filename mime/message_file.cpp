#include "mime/message_file.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "common/cancel.h"
#include "fs/env.h"
#include "mime/content_builder.h"
#include "mime/framing.h"
#include "mime/gmime_entity.h"
#include "mime/gmime_support.h"
#include "mime/part_data.h"
#include "mime/repair.h"
#include "mime/smime_form.h"
#include "mime/structural_parse.h"

namespace mime {
namespace {

quill::Status ErrnoStatus(int err, const std::string& path) {
  return quill::Status::IOError(fs::ErrorText(err) + ": " + path);
}

quill::Status TooLargeStatus(const std::string& path) {
  return quill::Status::IOError("message file larger than " + std::to_string(kMaxMessageFileBytes >> 20) +
                                " MiB: " + path);
}

quill::Status NotRegularStatus(const std::string& path) {
  return quill::Status::IOError(std::string(kNotRegularFile) + ": " + path);
}

struct ByteArrayFree {
  void operator()(GByteArray* a) const {
    if (a != nullptr) g_byte_array_unref(a);
  }
};
using ByteArrayPtr = std::unique_ptr<GByteArray, ByteArrayFree>;

std::atomic<bool> gmime_forced{false};

constexpr size_t kReadPiece = size_t{8} << 20;

}  // namespace

namespace internal {
void ForceGMimeParser(bool force) { gmime_forced.store(force, std::memory_order_relaxed); }
}  // namespace internal

struct MessageFile::Rep {
  ByteArrayPtr bytes;  // The file as read (or repaired); every GMime stream reads from it.
  MessageFrame frame;
  size_t header_length = 0;          // Of the header section at frame.begin.
  std::vector<std::string> notes;    // From framing and repairs.
  GObjectPtr<GMimeMessage> message;  // Null when GMime found no message.
  // Set instead of `message` when the structural parser accepted the message; views `bytes`.
  std::unique_ptr<MimeMessage> structural;

  std::string_view data() const {
    return std::string_view(reinterpret_cast<const char*>(bytes->data), bytes->len);
  }
  std::string_view body_range() const { return data().substr(frame.begin, frame.end - frame.begin); }

  void Parse() {
    EnsureGMimeInitialized();
    frame = LocateMessage(data());
    notes = frame.notes;
    header_length = HeaderSectionLength(body_range());

    // Repairs work on copies, made only for the messages that need them.
    std::string repaired;
    bool changed = false;
    if (CapHeaderFields(body_range().substr(0, header_length), repaired)) {
      notes.push_back("header fields longer than " + std::to_string(kMaxHeaderFieldBytes) +
                      " bytes were cut");
      repaired.append(body_range().substr(header_length));
      changed = true;
    }
    std::string cleaned;
    if (ReplaceNulsInHeaders(changed ? std::string_view(repaired) : body_range(), cleaned)) {
      notes.push_back("NUL bytes in header fields replaced by U+FFFD");
      repaired = std::move(cleaned);
      changed = true;
    }
    std::string mended;
    if (InsertMissingHeaderEnds(changed ? std::string_view(repaired) : body_range(), mended)) {
      notes.push_back("header block without the empty line that ends it; one was put in");
      repaired = std::move(mended);
      changed = true;
    }
    if (changed) {
      bytes.reset();  // Not needed any more: at most two copies of a huge message at once.
      ByteArrayPtr copy(g_byte_array_sized_new(static_cast<guint>(repaired.size())));
      g_byte_array_append(copy.get(), reinterpret_cast<const guint8*>(repaired.data()),
                          static_cast<guint>(repaired.size()));
      bytes = std::move(copy);
      frame.begin = 0;
      frame.end = bytes->len;
      header_length = HeaderSectionLength(body_range());
    }

    if (!gmime_forced.load(std::memory_order_relaxed)) {
      structural = ParseStructurally(body_range());
      if (structural) return;
    }

    // GMime leaves each part as a window on this array. The stream must not free it (a mem
    // stream empties an array it owns even while others hold references), so `bytes` owns it and
    // is declared before `message`, which it therefore outlives.
    GObjectPtr<GMimeStream> stream(g_mime_stream_mem_new_with_byte_array(bytes.get()));
    g_mime_stream_mem_set_owner(GMIME_STREAM_MEM(stream.get()), FALSE);
    GObjectPtr<GMimeStream> window(g_mime_stream_substream(stream.get(), static_cast<gint64>(frame.begin),
                                                           static_cast<gint64>(frame.end)));
    GObjectPtr<GMimeParser> parser(g_mime_parser_new_with_stream(window.get()));
    g_mime_parser_set_format(parser.get(), GMIME_FORMAT_MESSAGE);
    message.reset(g_mime_parser_construct_message(parser.get(), SharedParserOptions()));
  }
};

MessageFile::MessageFile(std::unique_ptr<Rep> rep) : rep_(std::move(rep)) {}
MessageFile::MessageFile(MessageFile&&) noexcept = default;
MessageFile& MessageFile::operator=(MessageFile&&) noexcept = default;
MessageFile::~MessageFile() = default;

quill::Result<MessageFile> MessageFile::Open(const std::string& path) { return Open(path, fs::SystemEnv()); }

quill::Result<MessageFile> MessageFile::Open(const std::string& path, fs::Env& env) {
  // Opened without blocking: a FIFO or a device named like a mail file would otherwise hold the
  // read-ahead worker in open() (a FIFO until someone writes to it) or feed it without end.
  // Symbolic links are followed; only what they lead to must be a regular file.
  std::unique_ptr<fs::ReadableFile> file;
  fs::FileInfo info;
  if (const int err = env.OpenForReading(path, &file, &info); err != 0) {
    return err == fs::kNotRegularFile ? NotRegularStatus(path) : ErrnoStatus(err, path);
  }
  // Never more than the cap is read, whatever the size said: a file that reports size 0 (/proc)
  // is read up to it, and a file that grows while it is read is refused rather than followed.
  const size_t stated = static_cast<size_t>(std::min<std::uint64_t>(info.size, kMaxMessageFileBytes + 1));
  if (stated > kMaxMessageFileBytes) return TooLargeStatus(path);
  ByteArrayPtr bytes(g_byte_array_sized_new(static_cast<guint>(stated > 0 ? stated : 65536)));
  g_byte_array_set_size(bytes.get(), static_cast<guint>(stated > 0 ? stated : 65536));
  size_t used = 0;
  while (true) {
    // Read a piece at a time, so that a stop request is seen within a moment on a huge file.
    if (quill::CancelRequested()) return quill::StoppedStatus();
    char* dst = reinterpret_cast<char*>(bytes->data) + used;
    size_t room = std::min(bytes->len - used, kReadPiece);
    char probe;
    if (room == 0) {
      // Full: either the end of the file, or a file that grew since it was opened (or a /proc
      // file that reports size 0). One byte more tells which.
      dst = &probe;
      room = 1;
    }
    size_t got = 0;
    if (const int err = file->Read(dst, room, &got); err != 0) return ErrnoStatus(err, path);
    if (got == 0) break;
    if (dst == &probe) {
      if (stated > 0) return quill::Status::IOError(std::string(kFileGrew) + ": " + path);
      if (bytes->len >= kMaxMessageFileBytes) return TooLargeStatus(path);
      g_byte_array_set_size(bytes.get(),
                            static_cast<guint>(std::min(size_t{bytes->len} * 2, kMaxMessageFileBytes)));
      bytes->data[used] = static_cast<guint8>(probe);
    }
    used += got;
  }
  file.reset();
  g_byte_array_set_size(bytes.get(), static_cast<guint>(used));
  if (quill::CancelRequested()) return quill::StoppedStatus();

  auto rep = std::make_unique<Rep>();
  rep->bytes = std::move(bytes);
  rep->Parse();
  return MessageFile(std::move(rep));
}

MessageFile MessageFile::FromBytes(std::string_view bytes) {
  auto rep = std::make_unique<Rep>();
  rep->bytes.reset(g_byte_array_sized_new(static_cast<guint>(bytes.size())));
  g_byte_array_append(rep->bytes.get(), reinterpret_cast<const guint8*>(bytes.data()),
                      static_cast<guint>(bytes.size()));
  rep->Parse();
  return MessageFile(std::move(rep));
}

ParsedMessage MessageFile::Content(int max_embedded_depth) const {
  ParsedMessage content;
  const std::string_view raw_headers = rep_->body_range().substr(0, rep_->header_length);
  std::unique_ptr<MimeMessage> gmime_view;
  if (!rep_->structural && rep_->message) gmime_view = ViewOfGMimeMessage(rep_->message.get());
  if (const MimeMessage* parsed = rep_->structural ? rep_->structural.get() : gmime_view.get()) {
    // Taken before the build, which may give the buffer's pages back as it decodes them.
    SmimeEntity smime = FindSmimeEntity(*parsed, rep_->body_range(), rep_->header_length);
    BuildContent(*parsed, raw_headers, 0, content, max_embedded_depth);
    ApplySmimeForm(std::move(smime), content);
  } else {
    BuildContentFromUnparsed(rep_->body_range(), content);
  }
  content.emlx_flags = rep_->frame.flags;
  content.notes.insert(content.notes.begin(), rep_->notes.begin(), rep_->notes.end());
  return content;
}

ParsedMessage MessageFile::ConsumeContent(int max_embedded_depth) && {
  ParsedMessage content;
  {
    const ReleasableInput releasable(rep_->data());
    content = Content(max_embedded_depth);
  }
  rep_.reset();
  return content;
}

size_t MessageFile::size() const { return rep_ && rep_->bytes ? rep_->bytes->len : 0; }

quill::Result<ParsedMessage> ReadMessageFile(const std::string& path) {
  QUILL_ASSIGN_OR_RETURN(MessageFile file, MessageFile::Open(path));
  if (quill::CancelRequested()) return quill::StoppedStatus();
  ParsedMessage content = std::move(file).ConsumeContent();
  // The decoders and the part walk give up early on a stop: what they built is incomplete.
  if (quill::CancelRequested()) return quill::StoppedStatus();
  return content;
}

ParsedMessage ParseMessage(std::string_view bytes) { return MessageFile::FromBytes(bytes).Content(); }

namespace internal {
bool ParsedByStructuralParser(const MessageFile& file) { return file.rep_->structural != nullptr; }
}  // namespace internal

}  // namespace mime
