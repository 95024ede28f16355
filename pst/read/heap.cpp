#include "pst/read/heap.h"

#include <string>

#include "pst/read/pst_file.h"

namespace pst::read {
namespace {

// Blocks 8, 136, 264, ... of a heap open with a fill-level bitmap as well as the page-map offset.
std::size_t BlockHeaderSize(std::size_t index) {
  if (index == 0) return 12;
  if (index >= 8 && (index - 8) % 128 == 0) return 66;
  return 2;
}

constexpr int kMaxBthLevels = 8;

}  // namespace

Result<Heap> Heap::Parse(std::vector<std::vector<std::uint8_t>> blocks) {
  if (blocks.empty()) return Status::Corruption("heap has no data");
  if (blocks.size() > 65536) return Status::Corruption("heap has too many blocks");
  Heap heap;
  std::span<const std::uint8_t> first(blocks[0]);
  if (first.size() < 12 || first[2] != kHeapSignature) return Status::Corruption("heap signature missing");
  heap.client_sig_ = first[3];
  heap.user_root_ = Le32(first, 4);
  for (std::size_t i = 0; i < blocks.size(); ++i) {
    Block b;
    b.bytes = std::move(blocks[i]);
    std::span<const std::uint8_t> s(b.bytes);
    const std::string where = "heap block " + std::to_string(i) + ": ";
    const std::size_t header = BlockHeaderSize(i);
    if (s.size() < header + 4) return Status::Corruption(where + "too short");
    const std::size_t map = Le16(s, 0);
    if (map < header || map + 4 > s.size()) return Status::Corruption(where + "page map offset out of range");
    const std::size_t count = Le16(s, map);
    if (map + 4 + 2 * (count + 1) > s.size())
      return Status::Corruption(where + "page map runs past the block");
    std::size_t prev = header;
    for (std::size_t k = 0; k <= count; ++k) {
      const std::uint16_t off = Le16(s, map + 4 + 2 * k);
      if (off < prev || off > map) return Status::Corruption(where + "allocation offsets out of order");
      if (k > 0 && off - prev > kHeapMaxAlloc)
        return Status::Corruption(where + "allocation larger than a heap allows");
      b.offsets.push_back(off);
      prev = off;
    }
    heap.blocks_.push_back(std::move(b));
  }
  return heap;
}

std::size_t Heap::allocation_count() const {
  std::size_t n = 0;
  for (const Block& b : blocks_) n += b.offsets.size() - 1;
  return n;
}

Result<std::span<const std::uint8_t>> Heap::Get(Hid hid) const {
  if ((hid & 0x1F) != 0) return Status::Corruption("heap id " + Hex(hid) + " is not a heap id");
  const std::size_t index = (hid >> 5) & 0x7FF;
  const std::size_t block = hid >> 16;
  if (block >= blocks_.size() || index == 0 || index >= blocks_[block].offsets.size()) {
    return Status::NotFound("heap id " + Hex(hid) + " names no allocation");
  }
  const Block& b = blocks_[block];
  const std::uint16_t begin = b.offsets[index - 1];
  const std::uint16_t end = b.offsets[index];
  return std::span<const std::uint8_t>(b.bytes.data() + begin, end - begin);
}

namespace {

Status ReadBthLevel(const Heap& heap, Hid hid, int level, std::size_t key_size, std::size_t data_size,
                    std::vector<BthRecord>* out, std::uint64_t* first_key) {
  QUILL_ASSIGN_OR_RETURN(const std::span<const std::uint8_t> a, heap.Get(hid));
  const std::size_t rec = key_size + (level > 0 ? 4 : data_size);
  if (a.empty() || a.size() % rec != 0)
    return Status::Corruption("BTH record array " + Hex(hid) + " has a partial record");
  const std::size_t n = a.size() / rec;
  for (std::size_t i = 0; i < n; ++i) {
    std::uint64_t key = 0;
    for (std::size_t k = 0; k < key_size && k < 8; ++k) key |= std::uint64_t{a[i * rec + k]} << (8 * k);
    if (i == 0) *first_key = key;
    if (!out->empty() && key <= out->back().key) {
      return Status::Corruption("BTH keys not ascending at " + Hex(key));
    }
    if (level > 0) {
      std::uint64_t child_first = 0;
      QUILL_RETURN_IF_ERROR(
          ReadBthLevel(heap, Le32(a, i * rec + key_size), level - 1, key_size, data_size, out, &child_first));
      if (child_first != key)
        return Status::Corruption("BTH index key " + Hex(key) + " differs from its child");
    } else {
      BthRecord r;
      r.key = key;
      r.data.assign(a.begin() + i * rec + key_size, a.begin() + (i + 1) * rec);
      out->push_back(std::move(r));
    }
  }
  return Status::Ok();
}

}  // namespace

Result<BthInfo> ReadBth(const Heap& heap, Hid header) {
  QUILL_ASSIGN_OR_RETURN(const std::span<const std::uint8_t> s, heap.Get(header));
  if (s.size() < 8 || s[0] != kClientBth)
    return Status::Corruption("BTH header " + Hex(header) + " malformed");
  BthInfo info;
  info.key_size = s[1];
  info.data_size = s[2];
  const int levels = s[3];
  const Hid root = Le32(s, 4);
  if (info.key_size != 2 && info.key_size != 4 && info.key_size != 8 && info.key_size != 16) {
    return Status::Corruption("BTH key size " + std::to_string(info.key_size));
  }
  if (info.data_size == 0 || info.data_size > 32)
    return Status::Corruption("BTH data size " + std::to_string(info.data_size));
  if (levels > kMaxBthLevels) return Status::Corruption("BTH too deep");
  if (root == 0) return info;
  std::uint64_t first = 0;
  QUILL_RETURN_IF_ERROR(
      ReadBthLevel(heap, root, levels, info.key_size, info.data_size, &info.records, &first));
  return info;
}

}  // namespace pst::read
