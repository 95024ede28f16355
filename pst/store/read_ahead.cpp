#include "pst/store/read_ahead.h"

#include <algorithm>
#include <exception>

#include "common/cancel.h"
#include "engine/store_service.h"
#include "fs/env.h"
#include "mime/message_file.h"
#include "pst/messaging/message_writer.h"

namespace pst::store {

// The notes of a message and of every message it encloses, each once, in order.
std::vector<std::string> NotesOf(const mime::ParsedMessage& content) {
  std::vector<std::string> notes;
  std::vector<const mime::ParsedMessage*> stack{&content};
  while (!stack.empty()) {
    const mime::ParsedMessage* m = stack.back();
    stack.pop_back();
    for (const std::string& n : m->notes) {
      if (std::find(notes.begin(), notes.end(), n) == notes.end()) notes.push_back(n);
    }
    for (auto a = m->attachments.rbegin(); a != m->attachments.rend(); ++a) {
      if (a->embedded) stack.push_back(a->embedded.get());
    }
  }
  return notes;
}

FileFacts LookAtFile(const std::string& path) {
  FileFacts facts;
  fs::FileInfo info;
  if (fs::SystemEnv().Stat(path, true, &info) != 0) return facts;
  if (info.size > 0) facts.bytes = static_cast<std::size_t>(info.size);
  facts.modified = std::chrono::sys_seconds(std::chrono::seconds(info.modified));
  return facts;
}

PreparedMessage PrepareMessage(const std::string& path, const FileFacts& facts,
                               import::ImportOptions options) {
  PreparedMessage out;
  if (quill::CancelRequested()) {
    out.status = quill::StoppedStatus();
    return out;
  }
  try {
    options.now = std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now());
    options.fileModified = facts.modified.value_or(options.now);
    quill::Result<mime::MessageFile> file = mime::MessageFile::Open(path);
    if (!file.ok()) {
      out.status = file.status();
      return out;
    }
    out.fileBytes = file->size();
    if (out.fileBytes == 0) {
      // Nothing to convert: no empty message may stand in for it, and the run says so.
      out.status = quill::Status::InvalidArgument(engine::kEmptyFileDescription);
      return out;
    }
    // Enclosed messages deeper than the store nests stay whole, as .eml attachments.
    out.source = std::move(*file).ConsumeContent(messaging::kMaxEmbeddingDepth);
    out.notes = NotesOf(out.source);
    options.nameMap = nullptr;
    options.borrowAttachmentData = true;
    options.attachmentsBuilt = kAttachmentsBuiltAhead;
    out.message = import::BuildMessage(out.source, options).message;
    out.options = options;
    if (quill::CancelRequested()) {
      out = PreparedMessage();
      out.status = quill::StoppedStatus();
    }
  } catch (const std::exception& e) {
    // Out of memory on an enormous file, most likely: that file fails, the run goes on.
    out.status = quill::Status::IOError(std::string(e.what()) + ": " + path);
  }
  return out;
}

PreparedMessage PrepareMessage(const std::string& path, import::ImportOptions options) {
  return PrepareMessage(path, LookAtFile(path), std::move(options));
}

std::size_t ReadAhead::DefaultWorkers() {
  const unsigned cores = std::thread::hardware_concurrency();
  return std::clamp<std::size_t>(cores, 1, 4);
}

ReadAhead::ReadAhead(Prepare prepare, Limits limits) : prepare_(std::move(prepare)), limits_(limits) {
  const std::size_t n = std::max<std::size_t>(limits_.workers, 1);
  for (std::size_t i = 0; i < n; ++i) workers_.emplace_back([this] { Work(); });
}

ReadAhead::~ReadAhead() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  workReady_.notify_all();
  for (std::thread& t : workers_) t.join();
}

std::shared_ptr<ReadAhead::Job> ReadAhead::NewJob(const std::string& path) const {
  auto job = std::make_shared<Job>();
  job->path = path;
  job->facts = LookAtFile(path);
  return job;
}

bool ReadAhead::Offer(const std::string& path) {
  std::shared_ptr<Job> job = NewJob(path);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    // Once full, the queue takes files again only when half empty: workers then run through
    // several files between two waits instead of waking for every one.
    if (queue_.size() >= limits_.maxQueued) refilling_ = true;
    if (refilling_ && queue_.size() > limits_.maxQueued / 2) return false;
    refilling_ = false;
    queue_.push_back(std::move(job));
  }
  workReady_.notify_one();
  return true;
}

// What a file counts against the bound while it is prepared: its size, or, when the file system
// did not tell (a /proc file says 0), the whole bound, since it may hold up to the size cap. Such
// a file starts only when nothing else is in memory, or when the caller waits for it.
std::size_t ReadAhead::ChargeWhileRunning(const Job& job) const {
  return job.facts.bytes > 0 ? job.facts.bytes : limits_.maxHeldBytes;
}

// The first file not yet started, if the memory bound lets it start; files start in order.
std::shared_ptr<ReadAhead::Job> ReadAhead::NextJobLocked() {
  for (const std::shared_ptr<Job>& job : queue_) {
    if (job->started) continue;
    const std::size_t inMemory = heldBytes_ + runningBytes_ + takenBytes_;
    if (job == awaited_ || inMemory + ChargeWhileRunning(*job) <= limits_.maxHeldBytes) return job;
    return nullptr;
  }
  return nullptr;
}

void ReadAhead::Work() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (true) {
    std::shared_ptr<Job> job;
    workReady_.wait(lock, [&] { return stopping_ || (job = NextJobLocked()) != nullptr; });
    if (stopping_) return;
    job->started = true;
    job->charged = ChargeWhileRunning(*job);
    runningBytes_ += job->charged;
    lock.unlock();
    // After a stop request the files still queued are not read at all.
    PreparedMessage result;
    if (quill::CancelRequested()) {
      result.status = quill::StoppedStatus();
    } else {
      result = prepare_(job->path, job->facts);
    }
    lock.lock();
    job->result = std::move(result);
    job->done = true;
    runningBytes_ -= job->charged;
    // Held at what it really holds: a file whose size was unknown, or that was repaired.
    job->charged = std::max(job->facts.bytes, job->result.fileBytes);
    if (!job->dropped) heldBytes_ += job->charged;
    if (job == awaited_) jobDone_.notify_one();
    // A dropped file's bytes are free again.
    if (job->dropped) workReady_.notify_all();
  }
}

PreparedMessage ReadAhead::Take(const std::string& path, const std::function<void()>& yield) {
  std::unique_lock<std::mutex> lock(mutex_);
  takenBytes_ = 0;  // The caller is done with the file it took before.
  const auto found =
      std::find_if(queue_.begin(), queue_.end(), [&](const auto& j) { return j->path == path; });
  if (found == queue_.end()) {
    // Never offered: prepare it next, keeping what was offered for later.
    lock.unlock();
    std::shared_ptr<Job> fresh = NewJob(path);
    lock.lock();
    queue_.push_front(std::move(fresh));
  } else {
    // Offered files before it will not be asked for any more.
    for (auto it = queue_.begin(); it != found; ++it) {
      (*it)->dropped = true;
      if ((*it)->done) heldBytes_ -= (*it)->charged;
    }
    queue_.erase(queue_.begin(), found);
  }
  const std::shared_ptr<Job> job = queue_.front();
  awaited_ = job;
  workReady_.notify_all();  // The awaited file may start, and room may have been made.
  while (!job->done) {
    if (jobDone_.wait_for(lock, limits_.waitSlice, [&] { return job->done; })) break;
    if (yield) {
      lock.unlock();
      yield();
      lock.lock();
    }
  }
  awaited_ = nullptr;
  // Looked up again rather than assumed at the front: the caller's yield may have run anything.
  if (const auto it = std::find(queue_.begin(), queue_.end(), job); it != queue_.end()) {
    queue_.erase(it);
    heldBytes_ -= job->charged;
    takenBytes_ = job->charged;
  }
  return std::move(job->result);
}

}  // namespace pst::store
