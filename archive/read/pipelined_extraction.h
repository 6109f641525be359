// Extracting a run of entries with their files created and written on
// worker threads while the caller's thread reads and decodes the next ones.
//
// The caller's thread keeps every step whose order shows: it reads and
// checks each entry, makes its directories, prints every line and decides
// where a failure stops the run. A worker only creates a file where nothing
// stands yet and writes it, so it can never replace or follow anything that
// was there. Whatever a worker could not do that way (the path exists, or
// creating or writing failed) is done again on the caller's thread when
// the entry's turn comes, exactly as a one-thread run does it. When a
// failure stops the run, the files and directories made ahead for later
// entries are removed again, so the disk holds what a one-thread run would
// have left.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_set>
#include <vector>

#include "archive/common/thread_pool.h"
#include "archive/legacy/tuk_file.h"

namespace tuk {

class PipelinedExtraction {
 public:
  // stopAtFailure: the first failed entry ends the run (the unpack
  // program); otherwise every entry is tried (tuk extract). workers 0
  // writes every file on the caller's thread.
  PipelinedExtraction(TukFile& archive, const char* root, bool stopAtFailure,
                      unsigned workers);
  // Finishes what is queued.
  ~PipelinedExtraction();
  PipelinedExtraction(const PipelinedExtraction&) = delete;
  PipelinedExtraction& operator=(const PipelinedExtraction&) = delete;

  // Extract(index, root) of the archive, its file possibly still being
  // written when this returns. False when this entry, or one queued before
  // it, failed.
  bool Extract(uint32_t index);
  // Waits for every queued file; false when one failed.
  bool Finish();

  // Whether the archive's extraction can use workers: not when planned
  // faults count its operations, whose order workers would change.
  static unsigned WorkersFor(const TukFile& archive);

 private:
  struct Job;
  bool Queue(uint32_t index, const IndexEntry& entry);
  // Whether a queued file has this name, or the name of one of its
  // directories: such an entry waits until the queue is written.
  bool NameIsQueued(const std::string& folded) const;
  // Finishes the oldest queued file on the caller's thread.
  bool SettleOldest();
  bool SettleAll();
  bool Settle(Job& job);
  // Removes what the queued jobs made ahead, after a failure before them.
  void UndoQueued();
  void RecycleBuffer(Job& job);
  // The archive's file buffer goes with each queued file; before it reads
  // again it gets a spare one of at least need bytes back, or a new one.
  void GiveArchiveABuffer(uint32_t need);
  void WaitUntilDone(const Job& job);

  TukFile& archive_;
  const std::string root_;
  const bool stopAtFailure_;
  bool failed_ = false;
  std::deque<std::unique_ptr<Job>> queued_;
  // Case-folded names of the queued entries.
  std::unordered_multiset<std::string> queuedNames_;
  uint64_t queuedBytes_ = 0;
  struct SpareBuffer {
    PageAlignedBuffer bytes;
    uint32_t capacity;
  };
  std::vector<SpareBuffer> spareBuffers_;
  uint64_t spareBytes_ = 0;
  std::mutex mutex_;
  std::condition_variable done_;
  bool holdBack_ = false;  // workers skip their jobs while a failure is undone
  // Last, so its threads are joined before anything they use goes away.
  ThreadPool pool_;
};

}  // namespace tuk
