#include "pst/ndb/file_writer.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <climits>
#include <cstring>
#include <exception>
#include <random>

#include "pst/ndb/btree_builder.h"
#include "pst/ndb/crc.h"
#include "pst/ndb/file_layout.h"
#include "pst/ndb/permute.h"

namespace pst::ndb {
namespace {

constexpr std::size_t kMinBufferSize = std::size_t{64} << 10;
constexpr std::size_t kMaxBufferSize = std::size_t{256} << 20;
constexpr std::uint32_t kMaxCRef = 0xFFFF;

// Fills a page trailer over the 496 content bytes already in `page`.
void SealPage(std::uint8_t* page, PageType type, std::uint64_t ib, std::uint64_t bid, bool signed_) {
  std::uint8_t* t = page + kPageContentSize;
  t[0] = static_cast<std::uint8_t>(type);
  t[1] = static_cast<std::uint8_t>(type);
  Put16(t + 2, signed_ ? ComputeSignature(ib, bid) : 0);
  Put32(t + 4, ComputeCrc({page, kPageContentSize}));
  Put64(t + 8, bid);
}

std::uint32_t RandomUnique() {
  std::random_device rd;
  return rd();
}

}  // namespace

quill::Result<std::unique_ptr<FileWriter>> FileWriter::Create(const std::string& targetPath,
                                                              const FileWriterOptions& options) {
  QUILL_ASSIGN_OR_RETURN(
      std::unique_ptr<FilePlacement> placement,
      FilePlacement::Create(targetPath, options.env != nullptr ? *options.env : fs::SystemEnv()));
  fs::WritableFile* file = &placement->file();
  std::unique_ptr<FileWriter> writer(new FileWriter(file, targetPath, options));
  writer->placement_ = std::move(placement);
  QUILL_RETURN_IF_ERROR(writer->Start());
  return writer;
}

quill::Result<std::unique_ptr<FileWriter>> FileWriter::Open(fs::WritableFile* file, const std::string& name,
                                                            const FileWriterOptions& options) {
  std::unique_ptr<FileWriter> writer(new FileWriter(file, name, options));
  QUILL_RETURN_IF_ERROR(writer->Start());
  return writer;
}

FileWriter::FileWriter(fs::WritableFile* file, const std::string& name, const FileWriterOptions& options)
    : file_(file), targetPath_(name), options_(options) {}

quill::Status FileWriter::Start() {
  try {
    for (auto& b : buffers_) b.resize(std::clamp(options_.bufferSize, kMinBufferSize, kMaxBufferSize));
    writeBehind_ = std::make_unique<WriteBehind>(*file_, options_.sync);
  } catch (const std::exception& e) {  // no thread or no memory for the buffers
    Abandon();
    return quill::Status::IOError(std::string("cannot start writing (") + e.what() + "): " + targetPath_);
  }
  if (!options_.unique.has_value()) options_.unique = RandomUnique();
  cursor_ = FirstDataOffset(0);
  OpenRegion(0);
  return quill::Status::Ok();
}

FileWriter::~FileWriter() {
  if (!closed_) Abandon();
}

void FileWriter::Abandon() {
  writeBehind_.reset();  // no write may still be running when the file goes
  if (placement_ != nullptr) placement_->Abandon();
  file_ = nullptr;
  const bool placed = closed_ && !writtenPath_.empty();
  closed_ = true;
  if (!placed) Fail(quill::Status::IOError("writing was abandoned: " + targetPath_));
}

const std::string& FileWriter::temporaryPath() const {
  static const std::string kNone;
  return placement_ != nullptr ? placement_->temporaryPath() : kNone;
}

quill::Status FileWriter::IoError(const std::string& what, int err) const {
  return quill::Status::IOError(what + " failed (" + fs::ErrorText(err) + "): " + targetPath_);
}

quill::Status FileWriter::Flush() {
  QUILL_RETURN_IF_ERROR(Drain());
  if (bufferUsed_ == 0) return quill::Status::Ok();
  writeBehind_->Submit(buffer().data(), bufferUsed_, bufferStart_);
  previousStart_ = bufferStart_;
  previousEnd_ = bufferStart_ + bufferUsed_;
  active_ ^= 1;
  bufferStart_ += bufferUsed_;
  bufferUsed_ = 0;
  return quill::Status::Ok();
}

quill::Status FileWriter::Drain() {
  const int err = writeBehind_ ? writeBehind_->Wait() : EBADF;
  return err == 0 ? quill::Status::Ok() : IoError("write", err);
}

quill::Status FileWriter::PutAt(std::uint64_t ib, const std::uint8_t* data, std::size_t size) {
  while (size > 0) {
    std::size_t written = 0;
    const int err = file_->WriteAt(ib, data, size, &written);
    if (err != 0 || written == 0) return IoError("write", err != 0 ? err : EIO);
    data += written;
    size -= written;
    ib += written;
  }
  return quill::Status::Ok();
}

// Appends [ib, ib+size) to the buffered tail of the file, zero-filling any gap before it.
quill::Result<std::uint8_t*> FileWriter::Reserve(std::uint64_t size, std::uint64_t align, std::uint64_t* ib) {
  const std::uint64_t pos = PlaceAllocation(cursor_, size, align);
  const std::uint64_t k = RegionOf(pos);
  while (openRegion_ < k) {
    OpenRegion(openRegion_ + 1);
    if (!status().ok()) return status();
  }
  std::uint64_t end = bufferStart_ + bufferUsed_;
  if (pos + size - bufferStart_ > buffer().size()) {
    QUILL_RETURN_IF_ERROR(Flush());
    // A gap too large to buffer stays a hole; holes read back as zeros.
    if (pos + size - bufferStart_ > buffer().size()) bufferStart_ = pos;
    end = bufferStart_;
  }
  std::memset(buffer().data() + (end - bufferStart_), 0, pos - end);
  bufferUsed_ = pos + size - bufferStart_;
  cursor_ = std::max(cursor_, pos + size);
  *ib = pos;
  return buffer().data() + (pos - bufferStart_);
}

// Places the map pages that head region k. Their contents do not depend on what the region will
// hold except for the AMap, which is left zero here and written at Close.
void FileWriter::OpenRegion(std::uint64_t k) {
  openRegion_ = k;
  const std::uint64_t start = RegionStart(k);
  const std::uint64_t headSize = FirstDataOffset(k) - start;
  // Reserve() with the cursor at the region start would recurse; place the head directly.
  std::uint64_t end = bufferStart_ + bufferUsed_;
  if (start + headSize - bufferStart_ > buffer().size()) {
    quill::Status s = Flush();
    if (!s.ok()) return Fail(s);
    if (start + headSize - bufferStart_ > buffer().size()) bufferStart_ = start;
    end = bufferStart_;
  }
  std::memset(buffer().data() + (end - bufferStart_), 0, start + headSize - end);
  bufferUsed_ = start + headSize - bufferStart_;
  std::uint8_t* head = buffer().data() + (start - bufferStart_);
  // The deprecated maps are kept for readers that still look for them, with every bit set the
  // way current Outlook versions leave them.
  auto map = [&](std::uint64_t offset, PageType type) {
    std::uint8_t* page = head + offset;
    std::memset(page, 0xFF, kPageContentSize);
    SealPage(page, type, start + offset, start + offset, false);
  };
  if (HasPMap(k)) map(kPMapOffsetInRegion, PageType::kPMap);
  if (HasFMap(k)) map(kFMapOffsetInRegion, PageType::kFMap);
  if (HasFPMap(k)) map(kFPMapOffsetInRegion, PageType::kFPMap);
  cursor_ = std::max(cursor_, start + headSize);
}

quill::Result<std::uint64_t> FileWriter::StoreBlock(Bid bid, BlockKind kind,
                                                    std::span<const std::uint8_t> bytes) {
  if (closed_) return quill::Status::InvalidArgument("writer already closed");
  const std::size_t cb = bytes.size();
  const std::size_t diskSize = BlockDiskSize(cb);
  std::uint64_t ib = 0;
  QUILL_ASSIGN_OR_RETURN(auto p, Reserve(diskSize, kSlotSize, &ib));
  if (kind == BlockKind::kData && options_.crypt == CryptMethod::kPermute) {
    PermuteEncode(bytes.data(), p, cb);
  } else {
    std::memcpy(p, bytes.data(), cb);
  }
  std::memset(p + cb, 0, diskSize - cb - kBlockTrailerSize);
  std::uint8_t* t = p + diskSize - kBlockTrailerSize;
  Put16(t, static_cast<std::uint16_t>(cb));
  Put16(t + 2, ComputeSignature(ib, bid));
  Put32(t + 4, ComputeCrc({p, cb}));
  Put64(t + 8, bid);
  return ib;
}

quill::Result<std::vector<std::uint8_t>> FileWriter::LoadInternalBlock(Bid, const BlockRecord& record) {
  std::vector<std::uint8_t> out(record.size);
  // A block never straddles buffers: each buffer starts where an allocation starts.
  if (record.location >= bufferStart_) {
    std::memcpy(out.data(), buffer().data() + (record.location - bufferStart_), out.size());
    return out;
  }
  if (record.location >= previousStart_ && record.location < previousEnd_) {
    // The writing thread only reads this buffer, so reading it here as well is safe.
    std::memcpy(out.data(), buffers_[active_ ^ 1].data() + (record.location - previousStart_), out.size());
    return out;
  }
  std::size_t got = 0;
  while (got < out.size()) {
    std::size_t n = 0;
    const int err = file_->ReadAt(record.location + got, out.data() + got, out.size() - got, &n);
    if (err != 0 || n == 0) return IoError("read", err != 0 ? err : EIO);
    got += n;
  }
  return out;
}

quill::Status FileWriter::WriteBTrees(BlockRef* nbtRoot, BlockRef* bbtRoot) {
  auto pageWriter = [this](PageType type) {
    return [this, type](std::uint8_t* content) -> quill::Result<BlockRef> {
      std::uint64_t ib = 0;
      QUILL_ASSIGN_OR_RETURN(auto place, Reserve(kPageSize, kPageSize, &ib));
      std::memcpy(place, content, kPageContentSize);
      const std::uint64_t bid = nextPageBid_++;
      SealPage(place, type, ib, bid, true);
      pageOffsets_.push_back(ib);
      return BlockRef{bid, ib};
    };
  };

  std::deque<NodeEntry>& nodes = mutableNodes();
  std::sort(nodes.begin(), nodes.end(), [](const NodeEntry& a, const NodeEntry& b) { return a.nid < b.nid; });
  auto nbtEntry = [&nodes](std::size_t i, std::uint8_t* e) {
    Put64(e, nodes[i].nid);
    Put64(e + 8, nodes[i].data);
    Put64(e + 16, nodes[i].sub);
    Put32(e + 24, nodes[i].parent);
  };
  QUILL_ASSIGN_OR_RETURN(BlockRef nbt, BuildBTree(kNbtEntrySize, nodes.size(), nbtEntry,
                                                  pageWriter(PageType::kNbt), &summary_.nbtLevels));

  // Blocks are recorded in id order, which is also key order; unreferenced ones are skipped. The
  // builder asks for entries strictly in sequence, so a running position is enough.
  const std::deque<BlockRecord>& all = blocks();
  std::size_t next = 0;
  auto bbtEntry = [&all, &next](std::size_t, std::uint8_t* e) {
    while (all[next].refs == 0) ++next;
    const BlockRecord& r = all[next];
    Put64(e, BidOfIndex(next, r.kind));
    Put64(e + 8, r.location);
    Put16(e + 16, r.size);
    // One count for the B-tree entry itself, one per reference.
    Put16(e + 18, static_cast<std::uint16_t>(r.refs + 1));
    ++next;
  };
  QUILL_ASSIGN_OR_RETURN(BlockRef bbt, BuildBTree(kBbtEntrySize, summary_.blocks, bbtEntry,
                                                  pageWriter(PageType::kBbt), &summary_.bbtLevels));
  *nbtRoot = nbt;
  *bbtRoot = bbt;
  return quill::Status::Ok();
}

quill::Status FileWriter::WriteAllocationMaps(std::uint64_t regions, std::uint64_t* freeBytes) {
  std::array<std::uint8_t, kPageSize> amap{};
  std::uint64_t region = 0;
  std::uint64_t freeSlots = 0;
  // Slot s is bit 0x80 >> (s % 8) of byte s / 8: the first slot is the most significant bit.
  auto mark = [&](std::uint64_t ib, std::uint64_t size) {
    std::uint64_t s = (ib - RegionStart(region)) / kSlotSize;
    const std::uint64_t end = s + size / kSlotSize;
    for (; s < end && (s & 7) != 0; ++s) amap[s >> 3] |= static_cast<std::uint8_t>(0x80u >> (s & 7));
    for (; s + 8 <= end; s += 8) amap[s >> 3] = 0xFF;
    for (; s < end; ++s) amap[s >> 3] |= static_cast<std::uint8_t>(0x80u >> (s & 7));
  };
  auto begin = [&]() {
    amap.fill(0);
    const std::uint64_t start = RegionStart(region);
    mark(start, kPageSize);
    if (HasPMap(region)) mark(start + kPMapOffsetInRegion, kPageSize);
    if (HasFMap(region)) mark(start + kFMapOffsetInRegion, kPageSize);
    if (HasFPMap(region)) mark(start + kFPMapOffsetInRegion, kPageSize);
  };
  auto finish = [&]() -> quill::Status {
    for (std::size_t i = 0; i < kPageContentSize; ++i) freeSlots += 8 - std::popcount(amap[i]);
    const std::uint64_t ib = RegionStart(region);
    SealPage(amap.data(), PageType::kAMap, ib, ib, false);
    return PutAt(ib, amap.data(), amap.size());
  };
  auto advanceTo = [&](std::uint64_t k) -> quill::Status {
    while (region < k) {
      QUILL_RETURN_IF_ERROR(finish());
      ++region;
      begin();
    }
    return quill::Status::Ok();
  };

  begin();
  const std::deque<BlockRecord>& all = blocks();
  for (const BlockRecord& r : all) {
    if (r.refs == 0) continue;
    QUILL_RETURN_IF_ERROR(advanceTo(RegionOf(r.location)));
    mark(r.location, BlockDiskSize(r.size));
  }
  for (std::uint64_t ib : pageOffsets_) {
    QUILL_RETURN_IF_ERROR(advanceTo(RegionOf(ib)));
    mark(ib, kPageSize);
  }
  QUILL_RETURN_IF_ERROR(advanceTo(regions - 1));
  QUILL_RETURN_IF_ERROR(finish());
  *freeBytes = freeSlots * kSlotSize;
  return quill::Status::Ok();
}

// An empty density list, as current Outlook versions leave in a new file: no entries, so readers
// that use it fall back to the allocation maps.
quill::Status FileWriter::WriteDensityList() {
  std::array<std::uint8_t, kPageSize> page{};
  SealPage(page.data(), PageType::kDensityList, kDensityListOffset, nextPageBid_, true);
  return PutAt(kDensityListOffset, page.data(), page.size());
}

quill::Status FileWriter::WriteHeader(const BlockRef& nbtRoot, const BlockRef& bbtRoot, std::uint64_t regions,
                                      std::uint64_t freeBytes) {
  std::array<std::uint8_t, kHeaderSize> h{};
  std::memcpy(&h[header::kMagic], "!BDN", 4);
  std::memcpy(&h[header::kMagicClient], "SM", 2);
  Put16(&h[header::kVersion], header::kVersionUnicode);
  Put16(&h[header::kClientVersion], header::kClientVersionValue);
  h[header::kPlatformCreate] = 0x01;
  h[header::kPlatformAccess] = 0x01;
  Put64(&h[header::kBidNextP], nextPageBid_);
  Put32(&h[header::kUnique], *options_.unique);
  for (std::size_t t = 0; t < nidCounters().size(); ++t)
    Put32(&h[header::kNidCounters + 4 * t], nidCounters()[t]);
  Put64(&h[header::kFileEof], RegionStart(regions));
  Put64(&h[header::kAMapLast], RegionStart(regions - 1));
  Put64(&h[header::kAMapFree], freeBytes);
  Put64(&h[header::kPMapFree], 0);
  Put64(&h[header::kNbtRoot], nbtRoot.bid);
  Put64(&h[header::kNbtRoot + 8], nbtRoot.ib);
  Put64(&h[header::kBbtRoot], bbtRoot.bid);
  Put64(&h[header::kBbtRoot + 8], bbtRoot.ib);
  h[header::kAMapValid] = header::kAMapValidValue;
  std::memset(&h[header::kFreeMap], 0xFF, 128);
  std::memset(&h[header::kFreePageMap], 0xFF, 128);
  h[header::kSentinel] = header::kSentinelValue;
  h[header::kCryptMethod] = static_cast<std::uint8_t>(options_.crypt);
  Put64(&h[header::kBidNextB], nextBlockId());
  const std::span<const std::uint8_t> all(h);
  Put32(&h[header::kCrcPartial],
        ComputeCrc(all.subspan(header::kCrcPartialStart, header::kCrcPartialLength)));
  Put32(&h[header::kCrcFull], ComputeCrc(all.subspan(header::kCrcPartialStart, header::kCrcFullLength)));
  return PutAt(0, h.data(), h.size());
}

quill::Status FileWriter::Finish() {
  QUILL_RETURN_IF_ERROR(ReleaseUnreferenced());
  for (const BlockRecord& r : blocks()) {
    if (r.refs == 0) {
      ++summary_.dropped;
      continue;
    }
    if (r.refs + 1 > kMaxCRef) return quill::Status::NotSupported("a block is shared by too many nodes");
    ++summary_.blocks;
  }
  summary_.nodes = nodes().size();

  BlockRef nbtRoot, bbtRoot;
  QUILL_RETURN_IF_ERROR(WriteBTrees(&nbtRoot, &bbtRoot));
  const std::uint64_t regions = RegionOf(cursor_ - 1) + 1;
  QUILL_RETURN_IF_ERROR(Flush());
  QUILL_RETURN_IF_ERROR(Drain());
  writeBehind_.reset();
  summary_.fileSize = RegionStart(regions);
  if (const int err = file_->Truncate(summary_.fileSize); err != 0) return IoError("resize", err);
  std::uint64_t freeBytes = 0;
  QUILL_RETURN_IF_ERROR(WriteAllocationMaps(regions, &freeBytes));
  QUILL_RETURN_IF_ERROR(WriteDensityList());
  // The header goes last: until it is written the file does not even look like a store.
  QUILL_RETURN_IF_ERROR(WriteHeader(nbtRoot, bbtRoot, regions, freeBytes));
  if (options_.sync) {
    if (const int err = file_->Sync(); err != 0) return IoError("sync", err);
  }
  if (placement_ != nullptr) {
    QUILL_RETURN_IF_ERROR(placement_->Place(options_.sync));
    writtenPath_ = placement_->writtenPath();
  } else {
    writtenPath_ = targetPath_;
  }
  file_ = nullptr;
  return quill::Status::Ok();
}

quill::Status FileWriter::Close() {
  if (closed_) return status().ok() ? quill::Status::InvalidArgument("writer already closed") : status();
  closed_ = true;
  if (!status().ok()) {
    const quill::Status s = status();
    Abandon();
    return s;
  }
  quill::Status s = Finish();
  if (!s.ok()) {
    Fail(s);
    Abandon();
    return s;
  }
  return quill::Status::Ok();
}

}  // namespace pst::ndb
