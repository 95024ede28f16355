#include "pst/read/test_util.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>

namespace pst::read::testing {

std::string ReferencePath(const std::string& name) {
  const char* dir = std::getenv("QUILL_SHARED_DIR");
  return std::string(dir ? dir : "") + "/reference-pst/" + name;
}

Bytes LoadReference(const std::string& name) {
  std::ifstream in(ReferencePath(name), std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void PutLe16(Bytes& b, std::size_t off, std::uint16_t v) {
  b[off] = static_cast<std::uint8_t>(v);
  b[off + 1] = static_cast<std::uint8_t>(v >> 8);
}
void PutLe32(Bytes& b, std::size_t off, std::uint32_t v) {
  PutLe16(b, off, static_cast<std::uint16_t>(v));
  PutLe16(b, off + 2, static_cast<std::uint16_t>(v >> 16));
}
void PutLe64(Bytes& b, std::size_t off, std::uint64_t v) {
  PutLe32(b, off, static_cast<std::uint32_t>(v));
  PutLe32(b, off + 4, static_cast<std::uint32_t>(v >> 32));
}

void FixHeaderCrcs(Bytes& file) {
  std::span<const std::uint8_t> s(file);
  PutLe32(file, 4, PstCrc(s.subspan(8, 471)));
  PutLe32(file, 0x20C, PstCrc(s.subspan(8, 516)));
}

void FixPageCrc(Bytes& file, std::uint64_t ib) {
  PutLe32(file, ib + 500, PstCrc(std::span<const std::uint8_t>(file).subspan(ib, 496)));
}

std::uint64_t FindLeafEntry(const PstFile& pst, const Bytes& file, bool nbt, std::uint64_t key) {
  for (const BtPage& p : pst.pages()) {
    if (p.level != 0 || p.ptype != (nbt ? kPtypeNbt : kPtypeBbt)) continue;
    const std::size_t size = nbt ? 32 : 24;
    for (std::size_t i = 0; i < p.entries; ++i) {
      const std::uint64_t off = p.ib + i * size;
      std::uint64_t k = Le64(file, off);
      if (nbt) k &= 0xFFFFFFFFu;
      if (k == key) return off;
    }
  }
  return 0;
}

std::uint64_t PageOf(std::uint64_t entry_offset) { return entry_offset / kPageSize * kPageSize; }

void EditBlock(const PstFile& pst, Bytes& file, Bid bid, const std::function<void(Bytes&)>& edit) {
  const BlockEntry& e = pst.blocks().at(CanonicalBid(bid));
  Bytes data(file.begin() + e.ib, file.begin() + e.ib + e.cb);
  PermuteDecode(data);
  edit(data);
  PermuteEncode(data);
  std::copy(data.begin(), data.end(), file.begin() + e.ib);
  PutLe32(file, e.ib + BlockDiskSize(e.cb) - kBlockTrailerSize + 4, PstCrc(data));
}

std::size_t Find(const Bytes& hay, const Bytes& needle) {
  auto it = std::search(hay.begin(), hay.end(), needle.begin(), needle.end());
  return it == hay.end() ? std::string::npos : static_cast<std::size_t>(it - hay.begin());
}

bool HasFinding(const CheckReport& report, std::string_view needle) {
  for (const Finding& f : report.findings) {
    if ((f.where + ": " + f.what).find(needle) != std::string::npos) return true;
  }
  return false;
}

std::string Describe(const std::vector<Finding>& findings) {
  std::string out;
  for (const Finding& f : findings) out += f.where + ": " + f.what + "\n";
  return out;
}

}  // namespace pst::read::testing
