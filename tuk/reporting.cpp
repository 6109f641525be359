#include "tuk/reporting.h"

#include <chrono>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#else
#include <unistd.h>
#endif

namespace tuk {
namespace {

uint64_t NowMs() {
  using namespace std::chrono;
  return static_cast<uint64_t>(
      duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

}  // namespace

void PrintError(const std::string& text) { std::fprintf(stderr, "tuk: %s\n", text.c_str()); }

bool IsTerminal(std::FILE* stream) {
#ifdef _WIN32
  return _isatty(_fileno(stream)) != 0;
#else
  return isatty(fileno(stream)) != 0;
#endif
}

void SetBinaryMode(std::FILE* stream) {
#ifdef _WIN32
  _setmode(_fileno(stream), _O_BINARY);
#else
  (void)stream;
#endif
}

std::string Describe(const Report& report) {
  const std::string& s = report.subject;
  const std::string value = std::to_string(report.value);
  switch (report.event) {
    case Event::kInputUnreadable: return "cannot read " + s + " (left out)";
    case Event::kInputTooBig: return s + " is too big: " + value + " bytes (left out)";
    case Event::kInputNameTooLong: return "entry name too long for " + s + " (left out)";
    case Event::kInputPathTooLong: return "path too long: " + s + " (left out)";
    case Event::kInputNoMemory: return "no memory for " + s + " (left out)";
    case Event::kDirectoryUnlisted: return "cannot list directory " + s + " (left out)";
    case Event::kEntryNotCarried: return "cannot keep " + s + ": its name lacks the prefix";
    case Event::kOldArchiveUnreadable: return s + " is not a whole archive (left as it is)";
    case Event::kOldPayloadUnreadable: return "cannot read " + s + " from the old archive";
    case Event::kOldPayloadUnwritable: return "cannot write " + s;
    case Event::kUnknownMode: return "unknown archive mode " + value;
    case Event::kArchiveTooLarge: return "the archive would pass 4 GiB";
    case Event::kArchiveUncreatable: return "cannot create " + s;
    case Event::kArchiveUnwritable: return "cannot write " + s;
    case Event::kMoveFailed: return "cannot move the new archive into place: " + s;
    case Event::kWaitingForLock: return "waiting for another program writing the archive (" + s + ")";
    case Event::kEntryDecodeFault: return s + ": the payload is damaged";
    case Event::kEntrySizeMismatch:
      return s + ": yields " + value + " bytes, not " + std::to_string(report.other);
    case Event::kEntryNoMemory: return s + ": no memory to extract it";
    case Event::kEntryChecksumMismatch: return s + ": the bytes do not match its checksum";
    case Event::kEntryUnsafeName: return "refused " + s + ": absolute, or with a \"..\" component";
    case Event::kEntryFileUncreatable: return "cannot create the file of " + s;
    case Event::kEntryFileUnwritable: return "cannot write the file of " + s;
    case Event::kEntryKept: return s + " exists: kept";
    case Event::kEntryInTheWay: return s + ": a directory or a link stands where its file goes";
    case Event::kEntryNameStripped: return s + ": nothing left of its name to extract it as (skipped)";
  }
  return s;
}

TukObserver::TukObserver(Verbosity verbosity, std::FILE* listing)
    : verbosity_(verbosity), listing_(listing),
      terminal_(IsTerminal(stderr) && verbosity != Verbosity::kQuiet),
      started_(NowMs()) {}

TukObserver::~TukObserver() { Clear(); }

void TukObserver::Clear() {
  if (!drawn_) return;
  std::fputs("\r\033[K", stderr);
  std::fflush(stderr);
  drawn_ = false;
}

void TukObserver::OnReport(const Report& report) {
  // Files kept and names stripped away are notes, not failures.
  const bool note = report.event == Event::kEntryKept || report.event == Event::kEntryNameStripped;
  if (note && verbosity_ == Verbosity::kQuiet) return;
  if (!note && report.event != Event::kWaitingForLock) reported_ = true;
  Clear();
  PrintError(Describe(report));
}

void TukObserver::OnEntryDone(const std::string& name) {
  if (verbosity_ != Verbosity::kVerbose) return;
  Clear();
  std::fprintf(listing_, "%s\n", name.c_str());
  std::fflush(listing_);
}

void TukObserver::OnProgress(const Progress& progress) {
  if (!terminal_) return;
  const uint64_t now = NowMs();
  if (progress.finished) {
    Clear();
    return;
  }
  if (drawn_ && now - lastDrawn_ < 100) return;
  lastDrawn_ = now;
  char line[160];
  if (progress.bytesTotal > 0) {
    const double done = static_cast<double>(progress.bytesDone) /
                        static_cast<double>(progress.bytesTotal);
    const uint64_t elapsed = now - started_;
    // Time left, once a second has gone by and some bytes are done.
    char left[32] = "";
    if (elapsed >= 1000 && done > 0.0) {
      const uint64_t seconds = static_cast<uint64_t>(static_cast<double>(elapsed) *
                                                     (1.0 - done) / done / 1000.0);
      std::snprintf(left, sizeof left, ", %llu:%02llu left",
                    static_cast<unsigned long long>(seconds / 60),
                    static_cast<unsigned long long>(seconds % 60));
    }
    std::snprintf(line, sizeof line, "%3d%%%s  %.60s", static_cast<int>(done * 100.0), left,
                  progress.current);
  } else {
    std::snprintf(line, sizeof line, "%.70s", progress.current);
  }
  std::fprintf(stderr, "\r\033[K%s", line);
  std::fflush(stderr);
  drawn_ = true;
}

}  // namespace tuk
