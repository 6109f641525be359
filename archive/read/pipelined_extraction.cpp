#include "archive/read/pipelined_extraction.h"

#include <algorithm>

#include "archive/common/checksum.h"
#include "archive/format/entry_list.h"
#include "archive/legacy/messages.h"

namespace tuk {
namespace {

// Files queued at most, and their bytes: deep enough that the reader and
// the workers seldom wait for each other, a few MiB at most.
constexpr size_t kMaxQueued = 64;
constexpr uint64_t kMaxQueuedBytes = 4 << 20;
constexpr unsigned kMaxWorkers = 4;
constexpr uint32_t kLargestJob = TukFile::kStreamThreshold + 1;

// Buffers come in powers of two from 4 KiB, so a spare one fits most of
// the next files.
uint32_t BufferSizeFor(uint32_t need) {
  uint32_t size = 4096;
  while (size < need && size < kLargestJob) size *= 2;
  return size < need ? need : size;
}

// What a buffer can hold of queued files' bytes: all that counts towards
// the memory spare buffers keep (the archive's first buffer is larger).
uint64_t UsableBytes(uint32_t capacity) { return capacity < kLargestJob ? capacity : kLargestJob; }

// Names compare as FindEntryByName compares them, so names that reach one
// file on a case-blind volume count as equal too.
std::string FoldedName(const IndexEntry& entry) {
  std::string name(entry.name, entry.nameLength);
  for (char& c : name) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return name;
}

}  // namespace

struct PipelinedExtraction::Job {
  enum class Outcome { NotTried, Written, Exists, Failed, BadChecksum };

  uint32_t index = 0;
  std::string path;
  std::string folded;
  std::vector<std::string> madeDirectories;  // made for this entry, in order
  PageAlignedBuffer bytes;
  uint32_t capacity = 0;
  uint32_t size = 0;
  uint64_t checksum = 0;  // to match before the file is made; 0: none
  // Written by the worker under mutex_.
  bool done = false;
  Outcome outcome = Outcome::NotTried;
};

PipelinedExtraction::PipelinedExtraction(TukFile& archive, const char* root,
                                         bool stopAtFailure, unsigned workers)
    : archive_(archive), root_(root), stopAtFailure_(stopAtFailure), pool_(workers) {}

PipelinedExtraction::~PipelinedExtraction() {
  SettleAll();
  GiveArchiveABuffer(1);
}

void PipelinedExtraction::GiveArchiveABuffer(uint32_t need) {
  if (archive_.rawBuffer && archive_.rawCapacity >= need) return;
  for (auto spare = spareBuffers_.begin(); spare != spareBuffers_.end(); ++spare) {
    if (spare->capacity < need) continue;
    spareBytes_ -= UsableBytes(spare->capacity);
    archive_.rawBuffer = std::move(spare->bytes);
    archive_.rawCapacity = spare->capacity;
    spareBuffers_.erase(spare);
    return;
  }
  archive_.GrowRawBuffer(BufferSizeFor(need));
}

unsigned PipelinedExtraction::WorkersFor(const TukFile& archive) {
  if (archive.context.faults != nullptr) return 0;
  return std::min(HardwareThreads(), kMaxWorkers);
}

bool PipelinedExtraction::Extract(uint32_t index) {
  if (pool_.Workers() > 0 && index < archive_.entries.size() &&
      !archive_.IsStreamed(archive_.entries.At(index))) {
    return Queue(index, archive_.entries.At(index));
  }
  // Anything else is extracted on this thread, after the files before it.
  const bool earlier = SettleAll();
  if (!earlier && stopAtFailure_) return false;
  // Extract hands back its buffer as the sign of success.
  GiveArchiveABuffer(1);
  const bool extracted = archive_.Extract(index, root_.c_str()) != nullptr;
  if (!extracted) failed_ = true;
  return earlier && extracted;
}

bool PipelinedExtraction::Finish() {
  SettleAll();
  return !failed_;
}

bool PipelinedExtraction::Queue(uint32_t index, const IndexEntry& entry) {
  auto job = std::make_unique<Job>();
  job->index = index;
  job->folded = FoldedName(entry);
  bool earlier = true;
  while (queued_.size() >= kMaxQueued || queuedBytes_ > kMaxQueuedBytes) {
    earlier = SettleOldest() && earlier;
  }
  if (NameIsQueued(job->folded)) earlier = SettleAll() && earlier;
  if (!earlier && stopAtFailure_) return false;

  // Reading and checking the entry prints only when it fails, but a
  // failure of a file still queued must be printed first: the lines are
  // held until the queue is settled.
  // Sized from what the entry claims only up to what a queued file can be:
  // reading grows it when the archive's payload really holds more.
  GiveArchiveABuffer(
      static_cast<uint32_t>(std::min<uint64_t>(uint64_t{entry.size} + 1, kLargestJob)));
  std::string held;
  const Messages shown = archive_.context.messages;
  archive_.context.messages = shown.HoldingIn(&held);
  bool ready = archive_.EntryToExtract(index) != nullptr &&
               archive_.ReadCheckedEntry(entry, false);
  if (ready && !IsSafeEntryName(entry.name, entry.nameLength)) {
    // Extract checks the checksum before the name.
    if (!archive_.ChecksumMatches(entry, archive_.rawBuffer.get())) {
      archive_.messages.TraceError("ERROR! Checksum mismatch: %s\n", entry.name);
    } else {
      archive_.messages.TraceError("ERROR! Unsafe entry name: %s\n", entry.name);
    }
    ready = false;
  }
  archive_.context.messages = shown;
  if (!held.empty() || !ready) {
    earlier = SettleAll() && earlier;
    if (!earlier && stopAtFailure_) return false;
    archive_.messages.Replay(held);
    if (!ready) {
      failed_ = true;
      return false;
    }
  }

  try {
    job->path = archive_.PrepareEntryPath(entry, root_.c_str(), &job->madeDirectories);
  } catch (...) {
    earlier = SettleAll() && earlier;
    if (!earlier && stopAtFailure_) return false;
    ReportExtractedWrite(archive_.messages, ExtractedWrite::WriteFailed, entry.name);
    failed_ = true;
    return false;
  }
  if (archive_.checkChecksums && ChecksumsAvailable()) job->checksum = entry.checksum;
  job->size = entry.size;
  job->bytes = std::move(archive_.rawBuffer);
  job->capacity = archive_.rawCapacity;
  archive_.rawCapacity = 0;

  Job* const work = job.get();
  queuedBytes_ += job->size;
  queuedNames_.insert(job->folded);
  queued_.push_back(std::move(job));
  pool_.Submit([this, work](unsigned) {
    bool holdBack;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      holdBack = holdBack_;
    }
    Job::Outcome outcome = Job::Outcome::NotTried;
    if (!holdBack) {
      if (work->checksum != 0 && EntryChecksum(work->bytes.get(), work->size) != work->checksum) {
        outcome = Job::Outcome::BadChecksum;
      } else {
        switch (platform::WriteNewFile(work->path.c_str(), work->bytes.get(), work->size)) {
          case platform::NewFile::Written: outcome = Job::Outcome::Written; break;
          case platform::NewFile::Exists: outcome = Job::Outcome::Exists; break;
          case platform::NewFile::Failed: outcome = Job::Outcome::Failed; break;
        }
      }
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      work->outcome = outcome;
      work->done = true;
    }
    done_.notify_all();
  });
  return earlier;
}

bool PipelinedExtraction::NameIsQueued(const std::string& folded) const {
  if (queuedNames_.count(folded) != 0) return true;
  // A queued file where this entry needs a directory: making the
  // directory first would make that file fail instead of this entry.
  for (size_t slash = folded.find('/'); slash != std::string::npos;
       slash = folded.find('/', slash + 1)) {
    if (queuedNames_.count(folded.substr(0, slash)) != 0) return true;
  }
  return false;
}

void PipelinedExtraction::WaitUntilDone(const Job& job) {
  std::unique_lock<std::mutex> lock(mutex_);
  done_.wait(lock, [&job] { return job.done; });
}

bool PipelinedExtraction::SettleAll() {
  bool ok = true;
  while (!queued_.empty()) ok = SettleOldest() && ok;
  return ok;
}

bool PipelinedExtraction::SettleOldest() {
  std::unique_ptr<Job> job = std::move(queued_.front());
  queued_.pop_front();
  queuedBytes_ -= job->size;
  queuedNames_.erase(queuedNames_.find(job->folded));
  WaitUntilDone(*job);
  const bool ok = Settle(*job);
  RecycleBuffer(*job);
  if (!ok) {
    failed_ = true;
    if (stopAtFailure_) {
      UndoQueued();
      for (auto& later : queued_) RecycleBuffer(*later);
      queued_.clear();
      queuedNames_.clear();
      queuedBytes_ = 0;
    }
  }
  return ok;
}

bool PipelinedExtraction::Settle(Job& job) {
  const IndexEntry& entry = archive_.entries.At(job.index);
  if (job.outcome == Job::Outcome::Written) return true;
  if (job.outcome == Job::Outcome::BadChecksum ||
      (job.outcome == Job::Outcome::NotTried &&
       !archive_.ChecksumMatches(entry, job.bytes.get()))) {
    archive_.messages.TraceError("ERROR! Checksum mismatch: %s\n", entry.name);
    return false;
  }
  // The one-thread way: the path may hold a file to replace, or the
  // worker's try failed. Its directories are made again in case a failure
  // since had them removed.
  const auto writeHere = [&] {
    try {
      archive_.PrepareEntryPath(entry, root_.c_str());
      return WriteExtractedFile(job.path, job.bytes.get(), job.size, archive_.context.faults);
    } catch (...) {
      return ExtractedWrite::WriteFailed;
    }
  };
  ExtractedWrite result = writeHere();
  if (result != ExtractedWrite::Written && stopAtFailure_ && !queued_.empty()) {
    // What was written ahead for later entries may have taken what this
    // one needed (room on the volume); without it, as a one-thread run
    // would stand here, the file gets one more try.
    UndoQueued();
    result = writeHere();
  }
  ReportExtractedWrite(archive_.messages, result, entry.name);
  return result == ExtractedWrite::Written;
}

void PipelinedExtraction::UndoQueued() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    holdBack_ = true;
  }
  for (auto& job : queued_) {
    WaitUntilDone(*job);
    if (job->outcome == Job::Outcome::Written) {
      platform::RemoveFile(job->path.c_str());
      job->outcome = Job::Outcome::NotTried;
    }
  }
  std::string directory = root_;
  if (!directory.empty() && directory.back() != '/' && directory.back() != '\\') directory += '/';
  const size_t rootLength = directory.size();
  for (auto job = queued_.rbegin(); job != queued_.rend(); ++job) {
    for (auto made = (*job)->madeDirectories.rbegin(); made != (*job)->madeDirectories.rend();
         ++made) {
      directory.resize(rootLength);
      directory += *made;
      platform::RemoveDir(directory.c_str());
      archive_.madeDirectories.erase(*made);
    }
    (*job)->madeDirectories.clear();
  }
  std::lock_guard<std::mutex> lock(mutex_);
  holdBack_ = false;
}

void PipelinedExtraction::RecycleBuffer(Job& job) {
  // Spare buffers keep no more memory than the queue may hold.
  if (!job.bytes || spareBytes_ + UsableBytes(job.capacity) > kMaxQueuedBytes) return;
  spareBytes_ += UsableBytes(job.capacity);
  spareBuffers_.push_back({std::move(job.bytes), job.capacity});
}

}  // namespace tuk
