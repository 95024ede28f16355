#include "pst/ndb/file_writer.h"

#include <limits.h>

#include <algorithm>
#include <array>
#include <bit>
#include <climits>
#include <cerrno>
#include <cstring>
#include <exception>
#include <random>

#include "pst/ndb/btree_builder.h"
#include "pst/ndb/crc.h"
#include "pst/ndb/file_layout.h"
#include "pst/ndb/live_temp_files.h"
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

std::string ParentFolder(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::uint32_t RandomUnique() {
  std::random_device rd;
  return rd();
}

// The temporary file's name: hidden, the same for every writer of one target, and short.
//
// Being the same for one target makes the temporary file the lock that keeps two runs from writing
// that target at once (flock, held for as long as the writer has the file open): it is there
// whenever a writer works on the target, unlike the target itself, which may not exist yet and
// which the final rename replaces (a lock on the old target would go with it); and a separate lock
// file would be one more file to leave behind. The same lock tells a live run's file from one that
// a killed run left: only the latter's lock can be taken. Being short keeps the name within the
// file system's limit whatever the target's name. The hash only has to keep apart the targets of
// one folder; were two to collide, the second would be refused as if already being written.
constexpr char kTempPrefix[] = ".quillsort-";
constexpr char kTempSuffix[] = ".tmp";
constexpr std::size_t kTempHashDigits = 16;
constexpr std::size_t kTempNameSize = sizeof kTempPrefix - 1 + kTempHashDigits + sizeof kTempSuffix - 1;

std::string TemporaryName(const std::string& targetName) {
  std::uint64_t h = 0xcbf29ce484222325u;  // FNV-1a
  for (unsigned char c : targetName) {
    h ^= c;
    h *= 0x100000001b3u;
  }
  static const char kDigits[] = "0123456789abcdef";
  std::string name = kTempPrefix;
  for (int shift = 60; shift >= 0; shift -= 4) name.push_back(kDigits[(h >> shift) & 15]);
  return name + kTempSuffix;
}

bool IsTemporaryName(const char* name) {
  const std::size_t n = std::strlen(name);
  if (n != kTempNameSize || std::strncmp(name, kTempPrefix, sizeof kTempPrefix - 1) != 0) return false;
  if (std::strcmp(name + n - (sizeof kTempSuffix - 1), kTempSuffix) != 0) return false;
  for (std::size_t i = sizeof kTempPrefix - 1; i < sizeof kTempPrefix - 1 + kTempHashDigits; ++i) {
    if (std::strchr("0123456789abcdef", name[i]) == nullptr || name[i] == '\0') return false;
  }
  return true;
}

// Takes the lock of an open temporary file and makes sure it is still the one under `name`: it may
// have been placed or removed by its owner between our open and our lock.
// kUnlockable: the file system keeps no locks (ENOLCK from a network file system whose lock
// service is down, say). Such a file is ours to write but never taken for stale.
enum class Lock { kTaken, kHeld, kGone, kUnlockable };
Lock LockTemporary(fs::Directory& dir, const std::string& name, fs::WritableFile& file, fs::FileInfo* info) {
  const int err = file.TryLock();
  if (err == EWOULDBLOCK) return Lock::kHeld;
  fs::FileInfo named;
  if (file.Stat(info) != 0 || dir.Stat(name, false, &named) != 0 || !info->SameFile(named)) return Lock::kGone;
  return err != 0 ? Lock::kUnlockable : Lock::kTaken;
}

// Removes the temporary files that runs killed while writing left in the folder: ours by their
// name, and stale because no writer holds their lock. Best effort: what cannot be removed stays.
void RemoveStaleTemporaryFiles(fs::Directory& dir) {
  std::vector<std::string> names;
  if (dir.List(&names) != 0) return;
  for (const std::string& name : names) {
    if (!IsTemporaryName(name.c_str())) continue;
    std::unique_ptr<fs::WritableFile> file;
    if (dir.OpenFile(name, fs::OpenMode::kExistingForLocking, 0, &file) != 0) continue;
    fs::FileInfo info;
    if (LockTemporary(dir, name, *file, &info) == Lock::kTaken && info.kind == fs::FileInfo::Kind::kRegular) {
      dir.Remove(name);
    }
  }
}

// "name (n).ext", within the file system's limit on a name's length: the stem gives way, never
// the number or the extension.
std::string NumberedName(const std::string& name, int n) {
  const std::size_t dot = name.find_last_of('.');
  const bool hasExt = dot != std::string::npos && dot > 0;
  std::string stem = hasExt ? name.substr(0, dot) : name;
  const std::string ext = hasExt ? name.substr(dot) : "";
  const std::string number = " (" + std::to_string(n) + ")";
  const std::size_t room = NAME_MAX - std::min<std::size_t>(NAME_MAX, number.size() + ext.size());
  if (stem.size() > room) {
    std::size_t cut = room;
    while (cut > 0 && (static_cast<unsigned char>(stem[cut]) & 0xC0) == 0x80) --cut;  // whole characters
    stem.resize(cut);
  }
  return stem + number + ext;
}

}  // namespace

struct FileWriter::Placement {
  std::unique_ptr<fs::Directory> dir;
  std::unique_ptr<fs::WritableFile> file;
  std::string targetPath, targetName, tempName;
  bool replaceable = false;
  fs::FileInfo target;
};

quill::Result<std::unique_ptr<FileWriter>> FileWriter::Create(const std::string& targetPath,
                                                              const FileWriterOptions& options) {
  if (targetPath.empty()) return quill::Status::InvalidArgument("empty target path");
  fs::Env& env = options.env != nullptr ? *options.env : fs::PosixEnv();
  Placement p;
  p.targetPath = targetPath;
  const std::size_t slash = targetPath.find_last_of('/');
  p.targetName = slash == std::string::npos ? targetPath : targetPath.substr(slash + 1);
  if (p.targetName.empty() || p.targetName == "." || p.targetName == "..") {
    return quill::Status::IOError("Not a regular file: " + targetPath);
  }
  auto failure = [&](int err) { return quill::Status::IOError(fs::ErrorText(err) + ": " + targetPath); };
  // A folder we may write in but not list still takes the file; listing it for stale files and
  // flushing its entries are then left out.
  if (const int err = env.OpenDirectory(ParentFolder(targetPath), &p.dir); err != 0) return failure(err);
  std::uint32_t mode;
  if (const int err = p.dir->Stat(p.targetName, true, &p.target); err == 0) {
    if (p.target.kind != fs::FileInfo::Kind::kRegular) {
      return quill::Status::IOError("Not a regular file: " + targetPath);
    }
    mode = p.target.permissions;  // replacing a file keeps its permissions
    p.replaceable = true;
  } else if (err == ENOENT) {
    mode = env.NewFilePermissions();
  } else {
    return failure(err);
  }

  RemoveStaleTemporaryFiles(*p.dir);
  p.tempName = TemporaryName(p.targetName);
  // The temporary file is created or, left by a killed run, found; it is ours once we hold its
  // lock and it is still the file under its name. A few rounds settle any race with another run.
  for (int round = 0; p.file == nullptr; ++round) {
    if (round == 8) return quill::Status::IOError("cannot create a temporary file beside " + targetPath);
    std::unique_ptr<fs::WritableFile> file;
    if (const int err = p.dir->OpenFile(p.tempName, fs::OpenMode::kCreateOrOpen, 0600, &file); err != 0) {
      return failure(err);
    }
    fs::FileInfo info;
    switch (LockTemporary(*p.dir, p.tempName, *file, &info)) {
      case Lock::kHeld:
        return quill::Status::AlreadyExists("another conversion is writing " + targetPath);
      case Lock::kGone:
        continue;
      case Lock::kTaken:
      case Lock::kUnlockable:  // written all the same, only without the guard against a second run
        break;
    }
    // Never reuse what a killed run left: it may share its data with a placed file (a link).
    if (info.size != 0 || info.links != 1 || info.kind != fs::FileInfo::Kind::kRegular) {
      p.dir->Remove(p.tempName);
      continue;
    }
    p.file = std::move(file);
  }
  if (const int err = p.file->SetPermissions(mode); err != 0) {
    p.dir->Remove(p.tempName);
    return failure(err);
  }
  std::unique_ptr<FileWriter> writer(new FileWriter(std::move(p), options));
  try {
    writer->Start();
  } catch (const std::exception& e) {  // no thread or no memory for the buffers
    writer->Abandon();
    return quill::Status::IOError(std::string("cannot start writing (") + e.what() + "): " + targetPath);
  }
  return writer;
}

FileWriter::FileWriter(Placement placement, const FileWriterOptions& options)
    : options_(options) {
  dir_ = std::move(placement.dir);
  file_ = std::move(placement.file);
  targetPath_ = std::move(placement.targetPath);
  targetName_ = std::move(placement.targetName);
  tempName_ = std::move(placement.tempName);
  tempPath_ = ParentFolder(targetPath_) + "/" + tempName_;
  replaceable_ = placement.replaceable;
  replaced_ = placement.target;
  // Named for a hasty exit before anything slow (buffers, the write-behind thread) can delay it.
  if (dir_->NativeHandle() >= 0) liveSlot_ = internal::RegisterLiveTemporaryFile(dir_->NativeHandle(), tempName_.c_str());
}

void FileWriter::Start() {
  for (auto& b : buffers_) b.resize(std::clamp(options_.bufferSize, kMinBufferSize, kMaxBufferSize));
  writeBehind_ = std::make_unique<WriteBehind>(*file_, options_.sync);
  if (!options_.unique.has_value()) options_.unique = RandomUnique();
  cursor_ = FirstDataOffset(0);
  OpenRegion(0);
}

FileWriter::~FileWriter() {
  if (file_ != nullptr || !tempPath_.empty() || dir_ != nullptr) Abandon();
}

void FileWriter::Abandon() {
  writeBehind_.reset();  // no write may still be running when the file goes
  // The name goes before the lock: a run waiting for it then finds the name free, never our data.
  // And only if it is still ours: removed by RemoveLiveTemporaryFiles, the name may since have
  // been taken by another run's file.
  if (!tempPath_.empty() && file_ != nullptr) {
    fs::FileInfo mine, named;
    if (file_->Stat(&mine) == 0 && dir_->Stat(tempName_, false, &named) == 0 && mine.SameFile(named)) {
      dir_->Remove(tempName_);
    }
  }
  internal::UnregisterLiveTemporaryFile(liveSlot_);
  liveSlot_ = -1;
  file_.reset();
  dir_.reset();
  tempPath_.clear();
  const bool placed = closed_ && !writtenPath_.empty();
  closed_ = true;
  if (!placed) Fail(quill::Status::IOError("writing was abandoned: " + targetPath_));
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

quill::Result<std::uint64_t> FileWriter::StoreBlock(Bid bid, BlockKind kind, std::span<const std::uint8_t> bytes) {
  if (closed_) return quill::Status::InvalidArgument("writer already closed");
  const std::size_t cb = bytes.size();
  const std::size_t diskSize = BlockDiskSize(cb);
  std::uint64_t ib = 0;
  quill::Result<std::uint8_t*> place = Reserve(diskSize, kSlotSize, &ib);
  if (!place.ok()) return place.status();
  std::uint8_t* p = *place;
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
      quill::Result<std::uint8_t*> place = Reserve(kPageSize, kPageSize, &ib);
      if (!place.ok()) return place.status();
      std::memcpy(*place, content, kPageContentSize);
      const std::uint64_t bid = nextPageBid_++;
      SealPage(*place, type, ib, bid, true);
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
  quill::Result<BlockRef> nbt = BuildBTree(kNbtEntrySize, nodes.size(), nbtEntry, pageWriter(PageType::kNbt),
                                           &summary_.nbtLevels);
  if (!nbt.ok()) return nbt.status();

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
  quill::Result<BlockRef> bbt = BuildBTree(kBbtEntrySize, summary_.blocks, bbtEntry, pageWriter(PageType::kBbt),
                                           &summary_.bbtLevels);
  if (!bbt.ok()) return bbt.status();
  *nbtRoot = *nbt;
  *bbtRoot = *bbt;
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
  for (std::size_t t = 0; t < nidCounters().size(); ++t) Put32(&h[header::kNidCounters + 4 * t], nidCounters()[t]);
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
  Put32(&h[header::kCrcPartial], ComputeCrc(all.subspan(header::kCrcPartialStart, header::kCrcPartialLength)));
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
  // What closing will report (a network file system's failed write-back) is known before the file
  // takes the target's place; the file itself stays open, and locked, until it is there.
  if (const int err = file_->CheckClose(); err != 0) return IoError("close", err);
  QUILL_RETURN_IF_ERROR(Place());
  tempPath_.clear();
  internal::UnregisterLiveTemporaryFile(liveSlot_);
  liveSlot_ = -1;
  if (options_.sync) {
    // The rename itself must reach the disk, or a crash could bring back the old target. The file
    // is in place either way, so a failure here is no failure of the file.
    dir_->Sync();
  }
  // Closing now only gives up the lock: what it could report was asked above.
  file_->Close();
  file_.reset();
  dir_.reset();
  return quill::Status::Ok();
}

quill::Status FileWriter::Place() {
  fs::FileInfo now;
  const int lookedUp = dir_->Stat(targetName_, true, &now);
  // What cannot be looked at cannot be known to be the file we may replace, nor to be free.
  if (lookedUp != 0 && lookedUp != ENOENT) return IoError("rename", lookedUp);
  const bool present = lookedUp == 0;
  if (present && replaceable_ && now.SameFile(replaced_)) {
    // Still the file the caller agreed to replace. (Another file can take its place only in the
    // moment between this look and the rename; the lock keeps our own runs out of it.)
    if (const int err = dir_->Rename(tempName_, targetName_, true); err != 0) return IoError("rename", err);
    writtenPath_ = targetPath_;
    return quill::Status::Ok();
  }
  // The target was free when we started, or holds a file we were never allowed to replace: the
  // result goes to the first free name, which the system checks and takes in one step.
  const std::string folder = targetPath_.substr(0, targetPath_.size() - targetName_.size());
  for (int n = 1; n <= 10000; ++n) {
    const std::string name = n == 1 ? targetName_ : NumberedName(targetName_, n);
    const int err = fs::MoveWithoutReplacing(*dir_, tempName_, name);
    if (err == 0) {
      writtenPath_ = folder + name;
      return quill::Status::Ok();
    }
    if (err != EEXIST) return IoError("rename", err);
  }
  return IoError("rename", EEXIST);
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
