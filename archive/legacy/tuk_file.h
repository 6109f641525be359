// TukFile: the legacy programs' archive object, under the names they have
// always used. It holds one archive's in-memory index (as LoadIndex read
// it), the stream a payload is written to and the buffer extracted bytes
// are handed back in; every job it is asked to do (reading the index,
// extracting, storing payloads, replacing an entry) is done by the engine
// (read/, write/), and TukFile turns what the engine reports into the
// legacy lines and results.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "archive/common/aligned_block.h"
#include "archive/format/layout.h"
#include "archive/legacy/context.h"
#include "platform/platform.h"
#include "tuk/index.h"
#include "tuk/status.h"

namespace tuk {

class Extractor;
class LegacyEnvironment;
struct Environment;

// An archive's entries in index order.
using EntryList = std::vector<Entry>;

class TukFile {
 public:
  static constexpr uint32_t kInitialRawCapacity = 4000000;

  // Every operation on this object reports through context.
  explicit TukFile(const Context& context = Context());
  ~TukFile();
  TukFile(const TukFile&) = delete;
  TukFile& operator=(const TukFile&) = delete;

  // ---- Reading ----

  // Reads the header and index of archivePath (or of tuk_file_name when it
  // is null) into entries.
  void LoadIndex(const char* archivePath);
  // Opens tuk_file_name for reading: 0 when open, 2 when not.
  uint32_t tukFileStream_openFail();

  // Reads entry index into rawBuffer and, given a directory, writes it
  // there as a file. Returns rawBuffer, or null on failure.
  uint8_t* Extract(uint32_t index, const char* strExtractPath);
  uint8_t* ExtractByName(const char* name, const char* strExtractPath);
  // Result codes: 0 done, 2 no path, 3 archive not open, 5 an entry failed,
  // 7 not enough free space.
  uint32_t ExtractAll(const char* strExtractPath);

  // ---- Writing ----

  // Writes the size bytes held in rawBuffer as a payload at tukFileStream's
  // position and appends its entry (named by name without its first
  // basePathLength characters); kInvalidArgument when the name does not fit.
  Status StoreFilePayload(uint32_t size, const char* name);
  // Stores the file at path the same way; a file that cannot be stored is
  // left out, reported and counted in skippedInputs.
  Status AddFile(const char* path);
  // Replaces entry index with the size bytes held in rawBuffer, or adds
  // them as a new entry named newName when index equals the entry count.
  // The archive is rewritten into tuk_file_name + ".tmp", which replaces it
  // only when complete. 0 when the archive was updated, 1 when it was left
  // as it was.
  int32_t AddReplaceFile(uint32_t index, uint32_t size, const char* newName = nullptr);

  // Grows rawBuffer; false (buffer unchanged) when memory ran out.
  bool GrowRawBuffer(uint64_t capacity);

  // ---- State ----

  // Where this object's lines, progress and (in tests) planned faults go.
  Context context;
  const Messages& messages;

  // The mode-1 encoder: 0 writes literal runs (as the legacy programs
  // always have), 1 to 9 compress at that level on compressionThreads.
  int compressionLevel = 0;
  unsigned compressionThreads = 1;
  // Whether new entries carry a checksum of their bytes, and whether
  // Extract refuses an entry whose bytes do not match the checksum it
  // carries.
  bool writeChecksums = false;
  bool checkChecksums = false;

  uint32_t mode = 0;
  char tuk_file_name[kPathBufferSize] = {};
  uint32_t archiveSize = 0;
  EntryList entries;
  uint32_t totalSize = 0;
  uint32_t indexOffset = 0;
  // The file payloads are written to (StoreFilePayload, AddFile).
  platform::File tukFileStream;
  PageBuffer rawBuffer;
  uint32_t rawCapacity = 0;
  uint32_t currentSize = 0;
  uint32_t currentStoredSize = 0;
  uint32_t basePathLength = 0;

  // Set by LoadIndex when the index ran past the end of the file or held a
  // record that cannot be an entry; the entries before it were kept.
  bool indexDamaged = false;
  // Input files AddFile had to leave out.
  uint32_t skippedInputs = 0;

 private:
  // The entry at index with the archive open, as Extract's first steps
  // find it; null (reported) when there is none.
  const Entry* EntryToExtract(uint32_t index);
  Extractor& ExtractorFor(const char* root, unsigned workers);
  // The environment of the context as it is now (a caller may hand in
  // another fault plan between calls).
  const Environment& Env();

  platform::RandomAccessFile archiveFile_;  // the archive being read
  std::unique_ptr<LegacyEnvironment> environment_;
  platform::FaultPlan* environmentFaults_ = nullptr;
  std::unique_ptr<Extractor> extractor_;
  std::vector<uint8_t> payload_;  // scratch for a segmented payload read whole
};

}  // namespace tuk
