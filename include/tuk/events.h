// What the library tells its caller while it works. It prints nothing
// itself: whatever it left out or could not do is handed to an Observer as
// a Report, and long runs report their progress and ask whether to stop;
// each program turns these into lines of its own.
#pragma once

#include <cstdint>
#include <string>

namespace tuk {

enum class Event {
  // Packing: an input left out (subject: its path). The archive is still
  // written; the run counts as incomplete.
  kInputUnreadable,     // cannot be opened or read whole, or has no bytes to read
  kInputTooBig,         // value: its size (an entry holds less than 4 GiB)
  kInputNameTooLong,    // its entry name would pass 259 characters
  kInputPathTooLong,    // its path would pass 511 characters
  kInputNoMemory,       // no memory to hold or compress it
  kDirectoryUnlisted,   // a subdirectory that cannot be listed
  kEntryNotCarried,     // an update's old entry whose name does not take the prefix (subject: name)
  // Writing an archive: why it was not written (subject: the archive's path
  // or, for the old archive's payloads, the entry's name).
  kOldArchiveUnreadable,  // the file at the path is not a whole archive
  kOldPayloadUnreadable,  // an old entry's payload cannot be read whole
  kOldPayloadUnwritable,  // ... or written
  kUnknownMode,           // value: the old archive's mode
  kArchiveTooLarge,       // it would pass 4 GiB, which its offsets cannot address
  kArchiveUncreatable,    // the file to write cannot be made
  kArchiveUnwritable,     // a write, flush, close or sync failed, or memory ran out
  kMoveFailed,            // moving the finished file into place failed: value says how (kelMoveFile's codes), subject the path it concerns
  kWaitingForLock,        // another program writes the archive (subject: the lock file); this one waits
  // Extraction of one entry (subject: its name).
  kEntryDecodeFault,      // the payload's instructions reach outside its buffers
  kEntrySizeMismatch,     // value: the bytes it yields, other: the entry's size
  kEntryNoMemory,
  kEntryChecksumMismatch,
  kEntryUnsafeName,       // absolute, or with a ".." component
  kEntryFileUncreatable,  // its file cannot be made
  kEntryFileUnwritable,   // its file cannot be written whole
  kEntryKept,             // an existing file was left as it is (overwrite policy)
  kEntryInTheWay,         // a directory or a link stands where its file or a directory of it goes
  kEntryNameStripped,     // nothing is left of its name once leading components are stripped
};

struct Report {
  Event event;
  std::string subject;
  uint64_t value = 0;
  uint64_t other = 0;
};

// How far a long run has come; bytes are the inputs' (packing) or the
// entries' (extraction).
struct Progress {
  uint64_t filesDone = 0;
  uint64_t filesTotal = 0;
  uint64_t bytesDone = 0;
  uint64_t bytesTotal = 0;
  const char* current = "";  // the file or entry about to be done
  bool finished = false;     // the last report of a run that was not stopped
};

// Receives reports and progress on the thread that called the library.
class Observer {
 public:
  virtual ~Observer() = default;
  virtual void OnReport(const Report& /*report*/) {}
  virtual void OnProgress(const Progress& /*progress*/) {}
  // Asked after each progress report of a run that may stop early (packing
  // finishes the archive with the files added so far).
  virtual bool ShouldStop() { return false; }
  // An entry that was written, extracted or carried over, for listings of
  // what was done.
  virtual void OnEntryDone(const std::string& /*name*/) {}
};

}  // namespace tuk
