// Measures how fast FileWriter turns attachment bytes into a file, to compare with a plain copy
// of the same size to the same disk (dd if=/dev/zero of=X bs=8M count=N conv=fsync).
//
//   ndb_write_bench OUT.pst [MiB=2048] [none|permute] [attachment MiB=8] [buffer KiB]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "pst/ndb/file_writer.h"

using pst::ndb::Bid;
using pst::ndb::FileWriter;

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s OUT.pst [MiB] [none|permute] [attachment MiB]\n", argv[0]);
    return 2;
  }
  const std::uint64_t total = (argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 2048) << 20;
  pst::ndb::FileWriterOptions options;
  if (argc > 3 && std::strcmp(argv[3], "none") == 0) options.crypt = pst::ndb::CryptMethod::kNone;
  const std::uint64_t attachment = (argc > 4 ? std::strtoull(argv[4], nullptr, 10) : 8) << 20;
  if (argc > 5) options.bufferSize = static_cast<std::size_t>(std::strtoull(argv[5], nullptr, 10)) << 10;

  // Incompressible-looking input so nothing below can take a shortcut.
  std::vector<std::uint8_t> source(attachment);
  std::mt19937_64 rng(1);
  for (std::size_t i = 0; i + 8 <= source.size(); i += 8) {
    const std::uint64_t v = rng();
    std::memcpy(&source[i], &v, 8);
  }

  const auto start = std::chrono::steady_clock::now();
  auto created = FileWriter::Create(argv[1], options);
  if (!created.ok()) {
    std::fprintf(stderr, "%s\n", created.status().ToString().c_str());
    return 1;
  }
  FileWriter& w = *created.value();
  std::vector<Bid> leaves;
  std::uint64_t written = 0;
  while (written < total) {
    const std::uint64_t size = std::min(attachment, total - written);
    leaves.clear();
    for (std::uint64_t off = 0; off < size; off += pst::ndb::kMaxBlockData) {
      const std::size_t n =
          static_cast<std::size_t>(std::min<std::uint64_t>(pst::ndb::kMaxBlockData, size - off));
      auto bid = w.WriteDataBlock({source.data() + off, n});
      if (!bid.ok()) {
        std::fprintf(stderr, "%s\n", bid.status().ToString().c_str());
        return 1;
      }
      leaves.push_back(bid.value());
    }
    auto top = w.WriteDataTree(leaves, size);
    if (!top.ok()) {
      std::fprintf(stderr, "%s\n", top.status().ToString().c_str());
      return 1;
    }
    const pst::ndb::SubnodeRef sub[] = {{pst::ndb::MakeNid(pst::ndb::NidType::kLtp, 1), top.value(), 0}};
    auto subTop = w.WriteSubnodeTree(sub);
    const pst::ndb::Nid nid = w.AllocateNid(pst::ndb::NidType::kNormalMessage);
    if (!subTop.ok() || !w.AddNode(nid, 0, subTop.value(), 0x122).ok()) {
      std::fprintf(stderr, "failed to add a node\n");
      return 1;
    }
    written += size;
  }
  const quill::Status closed = w.Close();
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (!closed.ok()) {
    std::fprintf(stderr, "%s\n", closed.ToString().c_str());
    return 1;
  }
  std::printf("%llu MiB of attachment data in %.2f s: %.0f MiB/s; file %llu bytes, %llu blocks, %llu nodes\n",
              static_cast<unsigned long long>(total >> 20), seconds,
              static_cast<double>(total >> 20) / seconds,
              static_cast<unsigned long long>(w.summary().fileSize),
              static_cast<unsigned long long>(w.summary().blocks),
              static_cast<unsigned long long>(w.summary().nodes));
  return 0;
}
