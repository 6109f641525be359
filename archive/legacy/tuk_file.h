// TukFile: the legacy programs' archive object. It owns one archive's
// in-memory index, its open stream and the buffers that hold one file and
// one payload; reading the index, encoding payloads, scanning sources and
// replacing files are done by the pieces it calls (see archive/README.md).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "archive/write/compress_pipeline.h"
#include "archive/legacy/context.h"
#include "archive/format/entry_list.h"
#include "archive/format/format.h"
#include "platform/platform.h"

namespace tuk {

// Outcome of a step that writes to an archive.
enum class WriteStatus {
  Ok,
  WriteFailed,   // a write, flush or close did not complete
  ReadFailed,    // an existing archive could not be read whole
  ArchiveFull,   // the archive would pass 4 GiB, which its offsets cannot address
  NameTooLong,   // an entry name would not fit 259 characters
  NoMemory,      // a buffer could not be obtained
};

// Outcome of storing one input file.
enum class AddStatus {
  Added,
  Skipped,  // the file was left out and reported; packing goes on
  Failed,   // the archive cannot be finished; packing stops
};

// The file and payload buffers start on a page boundary: the system copies
// file pages into and out of such a buffer much faster than into one that
// starts just past a boundary, as large allocations otherwise do.
struct PageAlignedDelete {
  void operator()(uint8_t* bytes) const;
};
using PageAlignedBuffer = std::unique_ptr<uint8_t[], PageAlignedDelete>;

class TukFile {
 public:
  static constexpr uint32_t kInitialRawCapacity = 4000000;
  static constexpr uint32_t kInitialPackedCapacity =
      kInitialRawCapacity * 3 / 2 + 260;

  // Every operation on this object reports through context.
  explicit TukFile(const Context& context = Context());
  ~TukFile();
  TukFile(const TukFile&) = delete;
  TukFile& operator=(const TukFile&) = delete;

  // ---- Reading (index loading and extraction) ----

  // Reads the header and index of archivePath (or of tuk_file_name when it
  // is null) into entries; the archive file is closed afterwards.
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

  // ---- Writing (payload encoder, packing, merging, replacing) ----

  // Writes the file held in rawBuffer as a payload at the stream's position
  // and appends its entry (named by name without its first basePathLength
  // characters).
  WriteStatus StoreFilePayload(uint32_t size, const char* name);

  AddStatus AddFile(const char* path);
  // AddFile for a file the scan found scannedSize bytes long: read in one
  // call when it still has that size, else measured and read by AddFile.
  AddStatus AddScannedFile(const char* path, uint64_t scannedSize);
  // Stores the currentSize bytes in rawBuffer read from path.
  AddStatus StoreInputFile(const char* path);
  // AddFile through a compression pipeline: the file is read and handed
  // over, and finished payloads are written while the pipeline is full.
  AddStatus AddFileCompressed(const char* path, CompressPipeline& pipeline);
  // Writes the pipeline's finished payloads in order: all of them, or only
  // as many as keep it from being full.
  AddStatus WriteCompressed(CompressPipeline& pipeline, bool all);
  // Appends an entry whose payload was encoded elsewhere, writing it at
  // the stream's position.
  WriteStatus AppendEncodedPayload(const EncodedPayload& payload);
  WriteStatus WriteIndex();
  // Writes a new archive's header, whose index offset and mode
  // FinishArchive fills in.
  bool WriteHeader();
  // Writes the index and the trailer at the stream's position, then the
  // real index offset and mode over the header's placeholders, and closes
  // the stream.
  WriteStatus FinishArchive();
  // Copies the payloads and entries of the old archive's entries that were
  // not packed again. False when an entry could not be carried over.
  WriteStatus MergeOldEntries(platform::File& existing, bool& allCarried);
  // Replaces entry index with the size bytes held in rawBuffer, or adds
  // them as a new entry named newName when index equals the entry count.
  // The archive is rewritten into tuk_file_name + ".tmp", which replaces it
  // only when complete. 0 when the archive was updated, 1 when it was left
  // as it was.
  int32_t AddReplaceFile(uint32_t index, uint32_t size,
                         const char* newName = nullptr);

  // Reads an entry's payload into rawBuffer (decoding it in mode 1) and
  // sets countRead to the bytes it yields. False when a buffer could not
  // be obtained.
  bool ReadEntryBytes(const IndexEntry& entry, uint32_t& countRead);
  // Writes rawBuffer as the entry's file below strExtractPath, making its
  // directories.
  bool WriteEntryFile(const IndexEntry& entry, const char* strExtractPath);
  // Extract's first steps: the entry at index, with the archive's stream
  // open; null (reported) when there is none.
  const IndexEntry* EntryToExtract(uint32_t index);
  // ReadEntryBytes with Extract's checks and messages: the entry's bytes,
  // whole, in rawBuffer, and (when asked and kept) matching its checksum.
  bool ReadCheckedEntry(const IndexEntry& entry, bool checkChecksum);
  // False only when checkChecksums is set and bytes do not match the
  // checksum the entry carries.
  bool ChecksumMatches(const IndexEntry& entry, const uint8_t* bytes) const;
  // The path of the entry's file below strExtractPath, its directories
  // made (each once per run); those this call made are added to made when
  // it is given, deepest last.
  std::string PrepareEntryPath(const IndexEntry& entry, const char* strExtractPath,
                               std::vector<std::string>* made = nullptr);

  // Entries, payloads and input files larger than this pass through in
  // blocks rather than whole: memory stays bounded whatever their size, and
  // blocks that stay in the processor's cache copy faster than a buffer
  // that does not.
  static constexpr uint32_t kStreamThreshold = 256 * 1024;
  bool IsStreamed(const IndexEntry& entry) const;
  // Extract's file-writing road for entries IsStreamed takes: the same
  // checks, messages and results, the bytes going to the file block by
  // block.
  bool ExtractStreamed(const IndexEntry& entry, const char* strExtractPath);
  // Removes an entry's file found damaged after it was written, and the
  // directories made for it (made, deepest last).
  void RemoveEntryFile(const std::string& path, const std::vector<std::string>& made);
  // AddFileCompressed's road for input files of more than kStreamThreshold
  // bytes: compressed piece by piece, with the payload the whole file gives.
  AddStatus AddFileCompressedStreamed(const char* path, platform::File& input, uint32_t size,
                                      CompressPipeline& pipeline);
  // AddFile's road for input files of more than kStreamThreshold bytes.
  AddStatus AddFileStreamed(const char* path, platform::File& input, uint32_t size);

  // Buffers grow only; false (buffer unchanged) when memory ran out.
  bool GrowRawBuffer(uint64_t capacity);
  bool GrowPackedBuffer(uint64_t capacity);

  // Opens and measures an input file and checks that it can be stored;
  // Skipped (and reported) when not.
  AddStatus OpenInput(const char* path, platform::File& input, uint32_t& size);
  // Whether path's name below the source directory, with the prefix, fits
  // an entry's name; when not, it is reported and counted as left out.
  bool NameFits(const char* path);
  WriteStatus StartEntry(IndexEntry& entry, const char* name);
  // StartEntry for an input file read in pieces: Skipped (reported) when
  // its name does not fit, Failed (lastFailure set) when the archive
  // cannot take it.
  AddStatus StartInputEntry(IndexEntry& entry, const char* path);

  // ---- State ----

  // Where this object's lines, progress and (in tests) planned faults go.
  Context context;
  const Messages& messages;

  // The mode-1 encoder: 0 writes literal runs (as the legacy programs
  // always have), 1 to 9 compress at that level on compressionThreads.
  int compressionLevel = 0;
  unsigned compressionThreads = 1;
  // Whether new entries carry a checksum of their bytes (tuk's writers; the
  // legacy programs write none), and whether Extract refuses an entry
  // whose bytes do not match the checksum it carries.
  bool writeChecksums = false;
  bool checkChecksums = false;

  uint32_t mode = 0;
  char tuk_file_name[kPathBufferSize] = {};
  uint32_t archiveSize = 0;
  EntryList entries;
  uint32_t totalSize = 0;
  uint32_t indexOffset = 0;
  platform::File tukFileStream;
  PageAlignedBuffer rawBuffer;
  uint32_t rawCapacity = 0;
  PageAlignedBuffer packedBuffer;
  uint32_t packedCapacity = 0;
  uint32_t currentSize = 0;
  uint32_t currentStoredSize = 0;
  uint32_t basePathLength = 0;
  uint32_t prefixLength = 0;
  const char* prefix = nullptr;  // not owned

  // Set by LoadIndex when the index ran past the end of the file or held a
  // record that cannot be an entry; the entries before it were kept.
  bool indexDamaged = false;
  // Directories already made below extractionRoot during this object's
  // extractions, so each one costs one creation per run.
  std::string extractionRoot;
  std::unordered_set<std::string> madeDirectories;
  // Input files AddFile had to leave out.
  uint32_t skippedInputs = 0;
  // Why the last AddFile that returned Failed failed.
  WriteStatus lastFailure = WriteStatus::Ok;
};

// How writing an extracted entry's file went.
enum class ExtractedWrite { Written, OpenFailed, WriteFailed };
// Creates (or truncates) path and writes size bytes to it; a file that
// could not be written whole is removed again.
ExtractedWrite WriteExtractedFile(const std::string& path, const uint8_t* bytes,
                                  uint32_t size, platform::FaultPlan* faults);
// Extraction's line for a write that failed; nothing for Written.
void ReportExtractedWrite(const Messages& messages, ExtractedWrite result, const char* name);

// Whether a file has an archive's header and an index that can be read to
// its last record. An update must not take a file that fails this for an
// archive: its entries would be lost.
bool ArchiveIndexReadable(const char* path);

}  // namespace tuk
