// How the tuk program talks: error lines on standard error ("tuk: text"),
// the library's reports turned into such lines, a progress line on a
// terminal, and the exit codes.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "tuk/events.h"

namespace tuk {

constexpr int kTukDone = 0;
constexpr int kTukUsage = 1;
constexpr int kTukFailed = 2;
constexpr int kTukDiffers = 1;  // tuk diff: the archive and the tree differ

// One error line of the tuk program, on standard error: "tuk: text".
void PrintError(const std::string& text);

// What one line says of a report.
std::string Describe(const Report& report);

// How much a command says: -q only errors, -v also each entry done.
enum class Verbosity { kQuiet, kNormal, kVerbose };

// Hears a library operation for the tuk program: every report is an error
// line (but -q keeps the overwrite policy's notes of files kept); -v lists
// each entry done on standard output; on a terminal, standard error shows
// one progress line (percent of bytes, the entry at hand, time left),
// redrawn at most ten times a second and cleared at the end.
class TukObserver : public Observer {
 public:
  // The entries done (-v) go to listing.
  explicit TukObserver(Verbosity verbosity = Verbosity::kNormal, std::FILE* listing = stdout);
  ~TukObserver() override;
  TukObserver(const TukObserver&) = delete;
  TukObserver& operator=(const TukObserver&) = delete;

  void OnReport(const Report& report) override;
  void OnProgress(const Progress& progress) override;
  void OnEntryDone(const std::string& name) override;
  // Whether a report told of a file left out or an entry that failed.
  bool reported() const { return reported_; }

 private:
  void Clear();

  const Verbosity verbosity_;
  std::FILE* const listing_;
  const bool terminal_;
  bool drawn_ = false;
  bool reported_ = false;
  uint64_t started_ = 0;
  uint64_t lastDrawn_ = 0;
};

// Whether stream is an interactive terminal.
bool IsTerminal(std::FILE* stream);
// Makes a stream pass bytes as they are (Windows: no "\n" to "\r\n").
void SetBinaryMode(std::FILE* stream);

}  // namespace tuk
