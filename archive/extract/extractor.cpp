#include "archive/extract/extractor.h"

#include <algorithm>

#include "archive/common/byte_copy.h"
#include "archive/common/checksum.h"
#include "archive/common/names.h"
#include "archive/format/layout.h"

namespace tuk {
namespace {

// Files queued at most, and their bytes: deep enough that the reader and
// the workers seldom wait for each other, a few MiB at most.
constexpr size_t kMaxQueued = 64;
constexpr uint64_t kMaxQueuedBytes = 4 << 20;
constexpr unsigned kMaxWorkers = 4;
constexpr uint32_t kLargestJob = kWholeEntryLimit + 1;
// The reading buffer of a run without workers starts this large, as the
// legacy programs' file buffer does: a payload decodes into all of it.
constexpr uint32_t kFirstCapacity = 4000000;

// Buffers come in powers of two from 4 KiB, so a spare one fits most of
// the next files.
uint32_t BufferSizeFor(uint32_t need) {
  uint32_t size = 4096;
  while (size < need && size < kLargestJob) size *= 2;
  return size < need ? need : size;
}

// What a buffer can hold of queued files' bytes: all that counts towards
// the memory spare buffers keep.
uint64_t UsableBytes(uint32_t capacity) { return capacity < kLargestJob ? capacity : kLargestJob; }

// Reports of an entry read ahead of its turn, told once the files queued
// before it are settled.
class HeldReports : public Observer {
 public:
  void OnReport(const Report& report) override { reports.push_back(report); }
  std::vector<Report> reports;
};

enum class Written { kWritten, kUncreatable, kUnwritable };

// Creates (or truncates) path and writes size bytes to it; a file that
// could not be written whole is removed again.
Written WriteFile(const platform::Disk& disk, const std::string& path, const uint8_t* bytes,
                  uint32_t size) {
  platform::File out;
  if (!disk.Open(out, path.c_str(), platform::File::Mode::WriteUnbuffered)) {
    return Written::kUncreatable;
  }
  const bool written = out.Write(bytes, size);
  const bool closed = out.Close();
  if (written && closed) return Written::kWritten;
  // A file cut short must not pass for the entry.
  platform::RemoveFile(path.c_str());
  return Written::kUnwritable;
}

void TellWritten(const Environment& env, Written result, const Entry& entry) {
  if (result == Written::kUncreatable) env.Tell(Event::kEntryFileUncreatable, entry.name);
  if (result == Written::kUnwritable) env.Tell(Event::kEntryFileUnwritable, entry.name);
}

// Tells why a read did not give the entry's bytes; false when it did.
bool TellUnread(const Environment& env, const Entry& entry, const EntryRead& read) {
  if (read.noMemory) {
    env.Tell(Event::kEntryNoMemory, entry.name);
    return true;
  }
  if (read.DecodeFault()) env.Tell(Event::kEntryDecodeFault, entry.name);
  if (read.countRead != entry.size) {
    env.Tell(Event::kEntrySizeMismatch, entry.name, read.countRead, entry.size);
    return true;
  }
  return false;
}

}  // namespace

struct Extractor::Job {
  enum class Outcome { kNotTried, kWritten, kExists, kFailed, kBadChecksum };

  const Entry* entry = nullptr;
  std::string name;  // the file's name below the root
  std::string path;
  std::string folded;
  std::vector<std::string> madeDirectories;  // made for this entry, in order
  GrowingBuffer bytes;
  uint64_t checksum = 0;  // to match before the file is made; 0: none
  // Written by the worker under mutex_.
  bool done = false;
  Outcome outcome = Outcome::kNotTried;
};

Extractor::Extractor(const EntrySource& source, ExtractSettings settings,
                     const Environment& env)
    : source_(source), settings_(std::move(settings)), env_(env), pool_(settings_.workers) {}

Extractor::~Extractor() { SettleAll(); }

unsigned Extractor::DefaultWorkers() { return std::min(HardwareThreads(), kMaxWorkers); }

bool Extractor::ChecksumMatches(const Entry& entry, const uint8_t* bytes) const {
  return !settings_.verifyChecksums || entry.checksum() == 0 || !ChecksumsAvailable() ||
         EntryChecksum(bytes, entry.size) == entry.checksum();
}

bool Extractor::ReadChecked(const EntrySource& source, const Entry& entry, GrowingBuffer& buffer,
                            std::vector<uint8_t>& payload, bool checksum,
                            const Environment& env) {
  const RoomFor room = [&buffer](uint64_t need, uint64_t& capacity) -> uint8_t* {
    if (!buffer.Grow(buffer.bytes ? need : std::max<uint64_t>(need, kFirstCapacity))) {
      return nullptr;
    }
    capacity = buffer.capacity;
    return buffer.bytes.get();
  };
  const EntryRead read = ReadWhole(source, entry, room, payload);
  if (TellUnread(env, entry, read)) return false;
  if (checksum && entry.checksum() != 0 && ChecksumsAvailable() &&
      EntryChecksum(buffer.bytes.get(), entry.size) != entry.checksum()) {
    env.Tell(Event::kEntryChecksumMismatch, entry.name);
    return false;
  }
  return true;
}

std::string Extractor::Joined(const std::string& name) const {
  std::string path = settings_.root;
  if (!path.empty() && path.back() != '/' && path.back() != '\\') path += '/';
  return path + name;
}

std::string Extractor::PreparePath(const std::string& name, std::vector<std::string>* made) {
  // Paths are joined to the extraction directory rather than opened from
  // it as the working directory, which extraction never touches.
  const std::string path = Joined(name);
  const size_t rootLength = path.size() - name.size();
  // Every '/' ends a directory of the entry's path; each is made once
  // per run, parents first.
  for (size_t i = 0; i < name.size(); ++i) {
    if (name[i] != '/') continue;
    std::string directory = name.substr(0, i);
    if (madeDirectories_.count(directory) != 0) continue;
    const std::string full = path.substr(0, rootLength + i);
    const bool createdHere = env_.disk->CreateDir(full.c_str());
    if (!createdHere && settings_.noFollow &&
        platform::KindOf(full.c_str()) != platform::PathKind::kDirectory) {
      return std::string();
    }
    if (createdHere && made != nullptr) made->push_back(directory);
    madeDirectories_.insert(std::move(directory));
  }
  return path;
}

Extractor::Place Extractor::Look(const std::string& path) const {
  if (settings_.overwrite == ExtractSettings::Overwrite::kAlways && !settings_.noFollow) {
    return Place::kWrite;
  }
  switch (platform::KindOf(path.c_str())) {
    case platform::PathKind::kNone:
      return Place::kWrite;
    case platform::PathKind::kFile: {
      if (settings_.overwrite == ExtractSettings::Overwrite::kKeep) return Place::kKeep;
      int64_t changed = 0;
      if (settings_.overwrite == ExtractSettings::Overwrite::kNewer &&
          platform::ModifiedNs(path.c_str(), changed) && changed >= settings_.newerThanNs) {
        return Place::kKeep;
      }
      return Place::kWrite;
    }
    default:
      return settings_.noFollow ? Place::kInTheWay : Place::kWrite;
  }
}

bool Extractor::Refuse(Place place, const Entry& entry) {
  if (place == Place::kKeep) {
    env_.Tell(Event::kEntryKept, entry.name);
    ++kept_;
    return false;
  }
  env_.Tell(Event::kEntryInTheWay, entry.name);
  return true;
}

void Extractor::RemoveEntryFile(const std::string& path, const std::vector<std::string>& made) {
  platform::RemoveFile(path.c_str());
  for (auto directory = made.rbegin(); directory != made.rend(); ++directory) {
    platform::RemoveDir(Joined(*directory).c_str());
    madeDirectories_.erase(*directory);
  }
}

bool Extractor::Extract(const Entry& entry, const std::string* as) {
  const std::string& name = as != nullptr ? *as : entry.name;
  if (pool_.Workers() > 0 && !IsStreamed(source_.mode, entry)) return Queue(entry, name);
  // Anything else is extracted on this thread, after the files before it.
  const bool earlier = SettleAll();
  if (!earlier && settings_.stopAtFailure) return false;
  RefillBuffer(1);
  const size_t kept = kept_;
  const bool extracted = ExtractHere(entry, name);
  if (extracted && kept == kept_) {
    ++extracted_;
    env_.Done(entry.name);
  } else if (!extracted) {
    ++failures_;
  }
  return earlier && extracted;
}

bool Extractor::Finish() {
  SettleAll();
  return failures_ == 0;
}

bool Extractor::ExtractHere(const Entry& entry, const std::string& name) {
  return IsStreamed(source_.mode, entry) ? ExtractStreamed(entry, name)
                                         : ExtractWhole(entry, name);
}

bool Extractor::ExtractWhole(const Entry& entry, const std::string& name) {
  if (!ReadChecked(source_, entry, buffer_, payload_, settings_.verifyChecksums, env_)) {
    return false;
  }
  if (!IsSafeName(name)) {
    env_.Tell(Event::kEntryUnsafeName, entry.name);
    return false;
  }
  Written result = Written::kUnwritable;
  try {
    const std::string path = PreparePath(name);
    const Place place = path.empty() ? Place::kInTheWay : Look(path);
    if (place != Place::kWrite) return !Refuse(place, entry);
    result = WriteFile(*env_.disk, path, buffer_.bytes.get(), entry.size);
  } catch (...) {
  }
  TellWritten(env_, result, entry);
  return result == Written::kWritten;
}

bool Extractor::ExtractStreamed(const Entry& entry, const std::string& name) {
  const bool verify = settings_.verifyChecksums && entry.checksum() != 0 && ChecksumsAvailable();
  // A whole decode's capacity: the reading buffer grown to hold the entry.
  const uint64_t capacity = std::max<uint64_t>(uint64_t{entry.size} + 1, buffer_.capacity);
  struct Outcome {
    EntryRead read;
    bool checksumMatches = true;
  };
  auto read = [&](const ByteSink& sink) {
    Outcome outcome;
    ChecksumStream checksum;
    outcome.read = ReadInBlocks(source_, entry, capacity, [&](const uint8_t* data, size_t length) {
      if (verify) checksum.Update(data, length);
      return sink(data, length);
    });
    outcome.checksumMatches = !verify || checksum.Digest() == entry.checksum();
    return outcome;
  };
  // Tells a read that did not give the entry's bytes; false when it did.
  auto tellUnread = [&](const Outcome& outcome) {
    if (TellUnread(env_, entry, outcome.read)) return true;
    if (!outcome.checksumMatches) {
      env_.Tell(Event::kEntryChecksumMismatch, entry.name);
      return true;
    }
    return false;
  };
  const ByteSink discard = [](const uint8_t*, size_t) { return true; };
  // A payload that cannot yield the entry's size is refused unread, before
  // anything is written.
  EntryRead refused;
  if (CannotYield(source_, entry, refused.countRead)) {
    TellUnread(env_, entry, refused);
    return false;
  }

  try {
    const bool safe = IsSafeName(name);
    // A damaged entry must leave a file already at its path as it was, and
    // an unsafe name is refused only once the bytes were found sound: in
    // both cases the entry is read through once before anything is written.
    const bool mayFailLate = source_.mode == kModeSegmented || verify;
    if (safe) {
      const Place place = Look(Joined(name));
      if (place != Place::kWrite) return !Refuse(place, entry);
    }
    if (!safe || (mayFailLate && platform::PathExists(Joined(name).c_str()))) {
      if (tellUnread(read(discard))) return false;
      if (!safe) {
        env_.Tell(Event::kEntryUnsafeName, entry.name);
        return false;
      }
    }

    std::vector<std::string> made;
    const std::string path = PreparePath(name, &made);
    if (path.empty()) return !Refuse(Place::kInTheWay, entry);
    platform::File out;
    if (!env_.disk->Open(out, path.c_str(), platform::File::Mode::WriteUnbuffered)) {
      env_.Tell(Event::kEntryFileUncreatable, entry.name);
      return false;
    }
    if (source_.mode == kModeStored) {
      // A stored payload passes through unchanged.
      const CopyOutcome copy = CopyRange(source_.file, entry.offset, entry.size, out, verify);
      if (copy.writeFailed || !copy.Complete(entry.size)) {
        out.Abandon();
        platform::RemoveFile(path.c_str());
        if (copy.writeFailed) {
          env_.Tell(Event::kEntryFileUnwritable, entry.name);
        } else {
          RemoveEntryFile(path, made);
          env_.Tell(Event::kEntrySizeMismatch, entry.name, copy.copied, entry.size);
        }
        return false;
      }
      if (verify && copy.checksum != entry.checksum()) {
        out.Abandon();
        RemoveEntryFile(path, made);
        env_.Tell(Event::kEntryChecksumMismatch, entry.name);
        return false;
      }
    } else {
      const Outcome outcome =
          read([&out](const uint8_t* data, size_t length) { return out.Write(data, length); });
      if (outcome.read.sinkStopped) {
        out.Abandon();
        platform::RemoveFile(path.c_str());
        env_.Tell(Event::kEntryFileUnwritable, entry.name);
        return false;
      }
      if (outcome.read.countRead != entry.size || !outcome.checksumMatches ||
          outcome.read.noMemory) {
        // Found damaged only while writing: nothing of the entry stays, not
        // even the directories made for it.
        out.Abandon();
        RemoveEntryFile(path, made);
        tellUnread(outcome);
        return false;
      }
    }
    if (out.Close()) return true;
    platform::RemoveFile(path.c_str());
  } catch (...) {
  }
  env_.Tell(Event::kEntryFileUnwritable, entry.name);
  return false;
}

void Extractor::RefillBuffer(uint32_t need) {
  if (buffer_.bytes && buffer_.capacity >= need) return;
  for (auto spare = spareBuffers_.begin(); spare != spareBuffers_.end(); ++spare) {
    if (spare->capacity < need) continue;
    spareBytes_ -= UsableBytes(spare->capacity);
    buffer_ = std::move(*spare);
    spareBuffers_.erase(spare);
    return;
  }
  // A run with workers sizes its buffers to the files; one without keeps
  // the legacy programs' first buffer.
  if (pool_.Workers() > 0) buffer_.Grow(BufferSizeFor(need));
}

bool Extractor::Queue(const Entry& entry, const std::string& name) {
  auto job = std::make_unique<Job>();
  job->entry = &entry;
  job->name = name;
  job->folded = Folded(name);
  bool earlier = true;
  while (queued_.size() >= kMaxQueued || queuedBytes_ > kMaxQueuedBytes) {
    earlier = SettleOldest() && earlier;
  }
  if (NameIsQueued(job->folded)) earlier = SettleAll() && earlier;
  if (!earlier && settings_.stopAtFailure) return false;

  // Reading and checking the entry reports only when it fails, but a
  // failure of a file still queued must be told first: the reports are
  // held until the queue is settled. Sized from what the entry claims only
  // up to what a queued file can be: reading grows it when the payload
  // really holds more.
  RefillBuffer(static_cast<uint32_t>(std::min<uint64_t>(uint64_t{entry.size} + 1, kLargestJob)));
  HeldReports held;
  Environment holding = env_;
  holding.observer = &held;
  bool ready = ReadChecked(source_, entry, buffer_, payload_, false, holding);
  if (ready && !IsSafeName(name)) {
    // A whole extraction checks the checksum before the name.
    holding.Tell(ChecksumMatches(entry, buffer_.bytes.get()) ? Event::kEntryUnsafeName
                                                              : Event::kEntryChecksumMismatch,
                 entry.name);
    ready = false;
  }
  if (!held.reports.empty() || !ready) {
    earlier = SettleAll() && earlier;
    if (!earlier && settings_.stopAtFailure) return false;
    for (const Report& report : held.reports) {
      if (env_.observer != nullptr) env_.observer->OnReport(report);
    }
    if (!ready) {
      ++failures_;
      return false;
    }
  }

  try {
    job->path = PreparePath(name, &job->madeDirectories);
  } catch (...) {
    job->path.clear();
  }
  if (job->path.empty()) {
    earlier = SettleAll() && earlier;
    if (!earlier && settings_.stopAtFailure) return false;
    Refuse(Place::kInTheWay, entry);
    ++failures_;
    return false;
  }
  if (settings_.verifyChecksums && ChecksumsAvailable()) job->checksum = entry.checksum();
  job->bytes = std::move(buffer_);
  buffer_ = GrowingBuffer();

  Job* const work = job.get();
  queuedBytes_ += entry.size;
  queuedNames_.insert(job->folded);
  queued_.push_back(std::move(job));
  const platform::Disk& disk = *env_.disk;
  pool_.Submit([this, work, &disk](unsigned) {
    bool holdBack;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      holdBack = holdBack_;
    }
    Job::Outcome outcome = Job::Outcome::kNotTried;
    const uint32_t size = work->entry->size;
    if (!holdBack) {
      if (work->checksum != 0 && EntryChecksum(work->bytes.bytes.get(), size) != work->checksum) {
        outcome = Job::Outcome::kBadChecksum;
      } else {
        switch (disk.WriteNew(work->path.c_str(), work->bytes.bytes.get(), size)) {
          case platform::NewFile::Written: outcome = Job::Outcome::kWritten; break;
          case platform::NewFile::Exists: outcome = Job::Outcome::kExists; break;
          case platform::NewFile::Failed: outcome = Job::Outcome::kFailed; break;
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

bool Extractor::NameIsQueued(const std::string& folded) const {
  if (queuedNames_.count(folded) != 0) return true;
  // A queued file where this entry needs a directory: making the
  // directory first would make that file fail instead of this entry.
  for (size_t slash = folded.find('/'); slash != std::string::npos;
       slash = folded.find('/', slash + 1)) {
    if (queuedNames_.count(folded.substr(0, slash)) != 0) return true;
  }
  return false;
}

void Extractor::WaitUntilDone(const Job& job) {
  std::unique_lock<std::mutex> lock(mutex_);
  done_.wait(lock, [&job] { return job.done; });
}

bool Extractor::SettleAll() {
  bool ok = true;
  while (!queued_.empty()) ok = SettleOldest() && ok;
  return ok;
}

bool Extractor::SettleOldest() {
  std::unique_ptr<Job> job = std::move(queued_.front());
  queued_.pop_front();
  queuedBytes_ -= job->entry->size;
  queuedNames_.erase(queuedNames_.find(job->folded));
  WaitUntilDone(*job);
  const size_t kept = kept_;
  const bool ok = Settle(*job);
  RecycleBuffer(*job);
  if (ok && kept == kept_) {
    ++extracted_;
    env_.Done(job->entry->name);
  }
  if (!ok) {
    ++failures_;
    if (settings_.stopAtFailure) {
      UndoQueued();
      for (auto& later : queued_) RecycleBuffer(*later);
      queued_.clear();
      queuedNames_.clear();
      queuedBytes_ = 0;
    }
  }
  return ok;
}

bool Extractor::Settle(Job& job) {
  const Entry& entry = *job.entry;
  if (job.outcome == Job::Outcome::kWritten) return true;
  if (job.outcome == Job::Outcome::kBadChecksum ||
      (job.outcome == Job::Outcome::kNotTried &&
       !ChecksumMatches(entry, job.bytes.bytes.get()))) {
    env_.Tell(Event::kEntryChecksumMismatch, entry.name);
    return false;
  }
  // The one-thread way: the path may hold a file to replace (or keep), or
  // the worker's try failed. Its directories are made again in case a
  // failure since had them removed.
  if (job.outcome == Job::Outcome::kExists) {
    const Place place = Look(job.path);
    if (place != Place::kWrite) return !Refuse(place, entry);
  }
  const auto writeHere = [&] {
    try {
      if (PreparePath(job.name).empty()) return Written::kUncreatable;
      return WriteFile(*env_.disk, job.path, job.bytes.bytes.get(), entry.size);
    } catch (...) {
      return Written::kUnwritable;
    }
  };
  Written result = writeHere();
  if (result != Written::kWritten && settings_.stopAtFailure && !queued_.empty()) {
    // What was written ahead for later entries may have taken what this
    // one needed (room on the volume); without it, as a one-thread run
    // would stand here, the file gets one more try.
    UndoQueued();
    result = writeHere();
  }
  TellWritten(env_, result, entry);
  return result == Written::kWritten;
}

void Extractor::UndoQueued() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    holdBack_ = true;
  }
  for (auto& job : queued_) {
    WaitUntilDone(*job);
    if (job->outcome == Job::Outcome::kWritten) {
      platform::RemoveFile(job->path.c_str());
      job->outcome = Job::Outcome::kNotTried;
    }
  }
  for (auto job = queued_.rbegin(); job != queued_.rend(); ++job) {
    for (auto made = (*job)->madeDirectories.rbegin(); made != (*job)->madeDirectories.rend();
         ++made) {
      platform::RemoveDir(Joined(*made).c_str());
      madeDirectories_.erase(*made);
    }
    (*job)->madeDirectories.clear();
  }
  std::lock_guard<std::mutex> lock(mutex_);
  holdBack_ = false;
}

void Extractor::RecycleBuffer(Job& job) {
  // Spare buffers keep no more memory than the queue may hold.
  if (!job.bytes.bytes || spareBytes_ + UsableBytes(job.bytes.capacity) > kMaxQueuedBytes) return;
  spareBytes_ += UsableBytes(job.bytes.capacity);
  spareBuffers_.push_back(std::move(job.bytes));
}

}  // namespace tuk
