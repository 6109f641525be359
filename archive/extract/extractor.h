// Extracting entries into a directory: each entry's bytes are read and
// checked, its directories made and its file written; an entry that fails
// is reported (kEntry... events) and leaves nothing of itself behind.
//
// Files of entries up to kWholeEntryLimit are created and written on worker
// threads while the caller's thread reads and decodes the next ones. The
// caller's thread keeps every step whose order shows: it reads and checks
// each entry, makes its directories, reports every failure and decides
// where a failure stops the run. A worker only creates a file where nothing
// stands yet and writes it, so it can never replace or follow anything
// that was there. Whatever a worker could not do that way (the path
// exists, or creating or writing failed) is done again on the caller's
// thread when the entry's turn comes, exactly as a one-thread run does it.
// When a failure stops the run, the files and directories made ahead for
// later entries are removed again, so the disk holds what a one-thread run
// would have left, and the reports come in the one-thread run's order.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_set>
#include <vector>

#include "archive/common/aligned_block.h"
#include "archive/common/environment.h"
#include "archive/common/thread_pool.h"
#include "archive/read/entry_bytes.h"

namespace tuk {

struct ExtractSettings {
  std::string root;             // every name is joined below it
  bool stopAtFailure = true;    // the first failed entry ends the run
  bool verifyChecksums = false; // refuse entries whose bytes do not match their checksum
  unsigned workers = 0;         // 0: every file is written on the caller's thread
  // A file already at an entry's path: replaced, kept (kEntryKept), or
  // replaced only when older than newerThanNs.
  enum class Overwrite { kAlways, kKeep, kNewer } overwrite = Overwrite::kAlways;
  int64_t newerThanNs = 0;
  // Never write through a link, nor make a directory through one: a link,
  // a directory or anything but a file where a file goes (or a directory
  // of it) fails the entry (kEntryInTheWay).
  bool noFollow = false;
};

class Extractor {
 public:
  Extractor(const EntrySource& source, ExtractSettings settings, const Environment& env);
  // Finishes what is queued.
  ~Extractor();
  Extractor(const Extractor&) = delete;
  Extractor& operator=(const Extractor&) = delete;

  // Extracts entry, its file possibly still being written when this
  // returns; entry (and as) must outlive the run. as, when given, is the
  // name its file gets below the root. False when this entry, or one
  // queued before it, failed.
  bool Extract(const Entry& entry, const std::string* as = nullptr);
  // Waits for every queued file; false when one failed.
  bool Finish();
  // Entries that failed so far (each one reported once); every other
  // entry extracted was told to the observer as done.
  size_t failures() const { return failures_; }
  size_t extracted() const { return extracted_; }
  size_t kept() const { return kept_; }
  const ExtractSettings& settings() const { return settings_; }

  // Reads the entry whole into buffer (grown to hold it), with extraction's
  // checks and reports: false when it does not yield exactly its bytes or,
  // with checksum set, they do not match its checksum.
  static bool ReadChecked(const EntrySource& source, const Entry& entry, GrowingBuffer& buffer,
                          std::vector<uint8_t>& payload, bool checksum, const Environment& env);

  // Workers for a run on this machine.
  static unsigned DefaultWorkers();

 private:
  struct Job;
  // What to do where a file goes.
  enum class Place { kWrite, kKeep, kInTheWay };
  Place Look(const std::string& path) const;
  // Tells the place's verdict for an entry that is not written; false for
  // one kept, which counts as done.
  bool Refuse(Place place, const Entry& entry);
  bool ExtractHere(const Entry& entry, const std::string& name);
  bool ExtractWhole(const Entry& entry, const std::string& name);
  bool ExtractStreamed(const Entry& entry, const std::string& name);
  bool Queue(const Entry& entry, const std::string& name);
  // The path of the file called name below the root, its directories made
  // (each once per run); those this call made are added to made when
  // given, deepest last. Empty when, with noFollow, something other than a
  // directory stands where one of them goes.
  std::string PreparePath(const std::string& name, std::vector<std::string>* made = nullptr);
  std::string Joined(const std::string& name) const;
  // Removes an entry's file found damaged after it was written, and the
  // directories made for it.
  void RemoveEntryFile(const std::string& path, const std::vector<std::string>& made);
  bool ChecksumMatches(const Entry& entry, const uint8_t* bytes) const;
  // Whether a queued file has this name, or the name of one of its
  // directories: such an entry waits until the queue is written.
  bool NameIsQueued(const std::string& folded) const;
  bool SettleOldest();
  bool SettleAll();
  bool Settle(Job& job);
  void UndoQueued();
  void RecycleBuffer(Job& job);
  // The reading buffer goes with each queued file; before it reads again
  // it gets a spare one of at least need bytes back, or a new one.
  void RefillBuffer(uint32_t need);
  void WaitUntilDone(const Job& job);

  const EntrySource source_;
  const ExtractSettings settings_;
  const Environment env_;
  GrowingBuffer buffer_;
  std::vector<uint8_t> payload_;  // a segmented entry's payload while it is decoded
  std::unordered_set<std::string> madeDirectories_;
  size_t failures_ = 0;
  size_t extracted_ = 0;
  size_t kept_ = 0;
  std::deque<std::unique_ptr<Job>> queued_;
  std::unordered_multiset<std::string> queuedNames_;  // case-folded
  uint64_t queuedBytes_ = 0;
  std::vector<GrowingBuffer> spareBuffers_;
  uint64_t spareBytes_ = 0;
  std::mutex mutex_;
  std::condition_variable done_;
  bool holdBack_ = false;  // workers skip their jobs while a failure is undone
  // Last, so its threads are joined before anything they use goes away.
  ThreadPool pool_;
};

}  // namespace tuk
