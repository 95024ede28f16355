// bench_pstwrite: the PST writer on its own, without parsing.
//
//   bench_pstwrite messages OUT.pst N      N small messages (30 properties, two recipients) in one
//                                          folder: messages per second and peak memory
//   bench_pstwrite attachment OUT.pst MiB  one message whose attachment of MiB is streamed through
//                                          the writer 1 MiB at a time: MB/s and peak memory
//   bench_pstwrite dd OUT MiB              the same number of bytes written plainly and fsync'ed,
//                                          as the disk's own rate to compare with
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "pst/ltp/stream_writer.h"
#include "pst/messaging/prop_tags.h"
#include "pst/messaging/store_writer.h"
#include "pst/ndb/file_writer.h"

namespace {

using pst::ltp::PropValue;
using pst::messaging::Property;
namespace tag = pst::messaging::tag;

double Now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

long PeakRssMb() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss / 1024;
}

int Fail(const quill::Status& s) {
  std::fprintf(stderr, "bench_pstwrite: %s\n", s.ToString().c_str());
  return 1;
}

// A received message as an importer makes it: 30 properties, two recipients.
pst::messaging::MessageContent SmallMessage(int i) {
  pst::messaging::MessageContent m;
  const std::uint64_t time = 133800000000000000ULL + static_cast<std::uint64_t>(i) * 10000000ULL;
  const auto str = [](const std::string& s) { return PropValue::StringUtf8(s); };
  const auto tagOf = [](std::uint16_t id, pst::ltp::PropType type) { return pst::ltp::MakeTag(id, type); };
  using T = pst::ltp::PropType;
  m.props = {
      {tag::kMessageClass, str("IPM.Note")},
      {tag::kSubject, str("Quarterly figures and the plan for the next meeting #" + std::to_string(i))},
      {tag::kConversationTopic,
       str("Quarterly figures and the plan for the next meeting #" + std::to_string(i))},
      {tag::kClientSubmitTime, PropValue::Time(time)},
      {tag::kMessageDeliveryTime, PropValue::Time(time + 50000000)},
      {tag::kCreationTime, PropValue::Time(time)},
      {tag::kLastModificationTime, PropValue::Time(time)},
      {tag::kSentRepresentingName, str("Ada Marrow")},
      {tag::kDisplayTo, str("Bruno Feld; Carla Quill")},
      {tag::kImportance, PropValue::Int32(1)},
      {tag::kSensitivity, PropValue::Int32(0)},
      {tag::kMessageFlags, PropValue::Int32(1)},
      {tagOf(0x0C1A, T::kString), str("Ada Marrow")},       // sender name
      {tagOf(0x0C1E, T::kString), str("SMTP")},             // sender address type
      {tagOf(0x0C1F, T::kString), str("ada@example.org")},  // sender address
      {tagOf(0x0064, T::kString), str("SMTP")},             // sent-representing type
      {tagOf(0x0065, T::kString), str("ada@example.org")},  // sent-representing address
      {tagOf(0x1035, T::kString), str("<msg" + std::to_string(i) + "@example.org>")},       // message id
      {tagOf(0x007D, T::kString), str("Received: from mx.example.org\r\nSubject: x\r\n")},  // headers
      {tagOf(0x1000, T::kString),
       str("Hello,\r\nthe figures are in. See you on Thursday.\r\nAda\r\n")},  // body
      {tagOf(0x0017, T::kInteger32), PropValue::Int32(1)},
      {tagOf(0x0026, T::kInteger32), PropValue::Int32(0)},      // priority
      {tagOf(0x3FDE, T::kInteger32), PropValue::Int32(65001)},  // internet code page
      {tagOf(0x0E1D, T::kString), str("Quarterly figures #" + std::to_string(i))},
      {tagOf(0x0E03, T::kString), str("")},
      {tagOf(0x0E02, T::kString), str("")},
      {tagOf(0x0057, T::kBoolean), PropValue::Bool(true)},
      {tagOf(0x0058, T::kBoolean), PropValue::Bool(false)},
      {tagOf(0x1039, T::kString), str("<ref" + std::to_string(i) + "@example.org>")},
      {tagOf(0x1042, T::kString), str("<prev" + std::to_string(i) + "@example.org>")},
  };
  for (const char* who : {"Bruno Feld", "Carla Quill"}) {
    pst::messaging::RecipientContent r;
    r.props = {{tag::kDisplayName, str(who)},
               {tag::kAddressType, str("SMTP")},
               {tag::kEmailAddress, str(std::string(who, 5) + "@example.org")},
               {tag::kRecipientType, PropValue::Int32(1)}};
    m.recipients.push_back(std::move(r));
  }
  return m;
}

int Messages(const char* out, int count) {
  pst::ndb::FileWriterOptions options;
  const double start = Now();
  auto file = pst::ndb::FileWriter::Create(out, options);
  if (!file.ok()) return Fail(file.status());
  auto store = pst::messaging::StoreWriter::Create(**file);
  if (!store.ok()) return Fail(store.status());
  auto folder = (*store)->CreateFolder((*store)->ipmSubtree(), u"Inbox");
  if (!folder.ok()) return Fail(folder.status());
  for (int i = 0; i < count; ++i) {
    auto nid = (*store)->AddMessage(*folder, SmallMessage(i));
    if (!nid.ok()) return Fail(nid.status());
  }
  if (quill::Status s = (*store)->Close(); !s.ok()) return Fail(s);
  if (quill::Status s = (*file)->Close(); !s.ok()) return Fail(s);
  const double seconds = Now() - start;
  std::printf("messages: %d in %.2f s = %.0f messages/s; peak RSS %ld MB\n", count, seconds, count / seconds,
              PeakRssMb());
  return 0;
}

int Attachment(const char* out, long mib) {
  std::vector<std::uint8_t> chunk(1 << 20);
  std::mt19937_64 rng(1);
  for (std::size_t i = 0; i + 8 <= chunk.size(); i += 8) {
    const std::uint64_t v = rng();
    std::memcpy(&chunk[i], &v, 8);
  }
  const double start = Now();
  auto file = pst::ndb::FileWriter::Create(out);
  if (!file.ok()) return Fail(file.status());
  auto store = pst::messaging::StoreWriter::Create(**file);
  if (!store.ok()) return Fail(store.status());
  pst::messaging::MessageContent m = SmallMessage(0);
  // Streams stay below 4 GiB each; a larger total goes into several attachments.
  long left = mib;
  while (left > 0) {
    const long part = std::min<long>(left, 4000);
    pst::ltp::StreamWriter stream(**file);
    for (long i = 0; i < part; ++i) {
      if (quill::Status s = stream.Append(chunk); !s.ok()) return Fail(s);
    }
    auto bid = stream.Finish();
    if (!bid.ok()) return Fail(bid.status());
    pst::messaging::AttachmentContent a;
    a.props = {{tag::kAttachLongFilename, PropValue::StringUtf8("data.bin")}};
    a.data = pst::messaging::AttachmentData::WrittenStream(*bid, static_cast<std::uint32_t>(stream.size()));
    m.attachments.push_back(std::move(a));
    left -= part;
  }
  auto folder = (*store)->CreateFolder((*store)->ipmSubtree(), u"Inbox");
  if (!folder.ok()) return Fail(folder.status());
  if (auto nid = (*store)->AddMessage(*folder, m); !nid.ok()) return Fail(nid.status());
  if (quill::Status s = (*store)->Close(); !s.ok()) return Fail(s);
  if (quill::Status s = (*file)->Close(); !s.ok()) return Fail(s);
  const double seconds = Now() - start;
  std::printf("attachment: %ld MiB in %.2f s = %.0f MB/s; peak RSS %ld MB\n", mib, seconds,
              mib * 1.048576 / seconds, PeakRssMb());
  return 0;
}

int Dd(const char* out, long mib) {
  std::vector<std::uint8_t> chunk(1 << 20, 0x5A);
  const double start = Now();
  const int fd = open(out, O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) return 1;
  for (long i = 0; i < mib; ++i) {
    if (write(fd, chunk.data(), chunk.size()) != static_cast<ssize_t>(chunk.size())) return 1;
  }
  fsync(fd);
  close(fd);
  const double seconds = Now() - start;
  std::printf("plain write: %ld MiB in %.2f s = %.0f MB/s\n", mib, seconds, mib * 1.048576 / seconds);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: bench_pstwrite messages|attachment|dd OUT COUNT\n");
    return 2;
  }
  const std::string mode = argv[1];
  const long n = std::atol(argv[3]);
  if (mode == "messages") return Messages(argv[2], static_cast<int>(n));
  if (mode == "attachment") return Attachment(argv[2], n);
  if (mode == "dd") return Dd(argv[2], n);
  std::fprintf(stderr, "unknown mode %s\n", mode.c_str());
  return 2;
}
