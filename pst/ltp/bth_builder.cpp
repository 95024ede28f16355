#include "pst/ltp/bth_builder.h"

#include <algorithm>
#include <vector>

#include "pst/ndb/le_bytes.h"

namespace pst::ltp {

using ndb::AppendLe;
using ndb::StoreLe;

namespace {

constexpr std::uint8_t kBthType = 0xB5;

// <0, 0, >0 as a is below, equal to or above b, both little-endian numbers of `size` bytes.
int CompareLeKeys(const std::uint8_t* a, const std::uint8_t* b, std::size_t size) {
  for (std::size_t i = size; i-- > 0;) {
    if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
  }
  return 0;
}

}  // namespace

quill::Result<Hid> ReserveBthHeader(HeapBuilder& heap) {
  const std::uint8_t empty[kBthHeaderSize] = {kBthType};
  return heap.Allocate(empty);
}

quill::Status BuildBth(HeapBuilder& heap, Hid header, std::size_t keySize, std::size_t valueSize,
                       std::span<const std::uint8_t> records) {
  if (keySize != 2 && keySize != 4 && keySize != 8 && keySize != 16) {
    return quill::Status::InvalidArgument("BTH key size must be 2, 4, 8 or 16");
  }
  if (valueSize < 1 || valueSize > 32) return quill::Status::InvalidArgument("BTH value size must be 1..32");
  const std::size_t recordSize = keySize + valueSize;
  if (records.size() % recordSize != 0) return quill::Status::InvalidArgument("BTH records are ragged");
  const std::size_t count = records.size() / recordSize;
  for (std::size_t i = 1; i < count; ++i) {
    if (CompareLeKeys(records.data() + (i - 1) * recordSize, records.data() + i * recordSize, keySize) >= 0) {
      return quill::Status::InvalidArgument("BTH keys not strictly ascending");
    }
  }

  std::uint8_t levels = 0;
  Hid root = 0;
  if (count > 0) {
    // Each pass stores one level as allocations and collects the index records of the next.
    std::vector<std::uint8_t> level(records.begin(), records.end());
    std::size_t size = recordSize;
    while (true) {
      const std::size_t perAlloc = kMaxHeapItem / size;
      const std::size_t n = level.size() / size;
      std::vector<std::uint8_t> parent;
      Hid last = 0;
      for (std::size_t first = 0; first < n; first += perAlloc) {
        const std::size_t take = std::min(perAlloc, n - first);
        QUILL_ASSIGN_OR_RETURN(const Hid hid, heap.Allocate(std::span<const std::uint8_t>(
                                                  level.data() + first * size, take * size)));
        last = hid;
        parent.insert(parent.end(), level.begin() + static_cast<std::ptrdiff_t>(first * size),
                      level.begin() + static_cast<std::ptrdiff_t>(first * size + keySize));
        AppendLe(parent, hid, 4);
      }
      if (n <= perAlloc) {
        root = last;
        break;
      }
      level = std::move(parent);
      size = keySize + 4;
      ++levels;
    }
  }

  std::uint8_t bytes[kBthHeaderSize] = {kBthType, static_cast<std::uint8_t>(keySize),
                                        static_cast<std::uint8_t>(valueSize), levels};
  StoreLe(bytes + 4, root, 4);
  return heap.Replace(header, bytes);
}

}  // namespace pst::ltp
