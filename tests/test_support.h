// Shared pieces of the tests: scratch directories, files, running the real
// programs, and archives crafted byte by byte.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "archive/common/environment.h"
#include "archive/legacy/pack.h"
#include "platform/fault_injection.h"
#include "archive/legacy/messages.h"

namespace tuk {
namespace test {

using Bytes = std::vector<uint8_t>;

// A fresh empty directory under the system's temporary directory, removed
// with everything in it when the object goes. The process's current
// directory is restored too, since some tests change it.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::string& path() const { return path_; }
  // path() + "/" + relative
  std::string operator/(const std::string& relative) const;

 private:
  std::string path_;
  std::string previousCwd_;
};

void WriteFile(const std::string& path, const Bytes& bytes);
void WriteFile(const std::string& path, const std::string& text);
Bytes ReadFile(const std::string& path);
bool FileExists(const std::string& path);
// Makes every missing directory of path.
void MakeDirs(const std::string& path);
Bytes BytesOf(const std::string& text);
// Deterministic pseudo-random bytes.
Bytes RandomBytes(size_t length, uint32_t seed);
// Every file below root, as "relative/path" -> bytes, sorted by path.
std::vector<std::pair<std::string, Bytes>> TreeContents(const std::string& root);

struct RunResult {
  int exitCode = -1;
  std::string output;  // standard output
  std::string errors;  // standard error, with RunCapturingErrors only
};

// Tests that run the programs belong in suites whose names contain "Cli" or
// "EndToEnd": the run against the Windows programs picks them by name.
//
// Runs a program with arguments in a working directory and captures its
// standard output. Each argument is quoted for the shell.
RunResult Run(const std::string& program, const std::vector<std::string>& args,
              const std::string& workingDir);
// The same, capturing standard error too; standard output is kept byte for
// byte (no "\r\n" folded under a runner).
RunResult RunCapturingErrors(const std::string& program, const std::vector<std::string>& args,
                             const std::string& workingDir);
// The program as a shell command, behind the runner (Wine) when one is set.
std::string ShellCommand(const std::string& program);
std::string UnpackExe();
// A directory as the program under test prints it once it has looked it
// up: under Wine (TUK_RUNNER set) Linux paths are reached through drive Z:.
std::string AsProgramSees(const std::string& path);
std::string PackExe();
std::string TukExe();

// Captures what the library writes through the messages it is handed.
class MessageCapture {
 public:
  MessageCapture();
  ~MessageCapture();
  MessageCapture(const MessageCapture&) = delete;
  MessageCapture& operator=(const MessageCapture&) = delete;
  std::string Text();
  // Lines of set, written into this capture.
  Messages messages(MessageSet set = MessageSet::Common) const {
    return Messages(set, file_);
  }
  // A context whose lines of set go into this capture.
  Context context(MessageSet set = MessageSet::Common,
                  platform::FaultPlan* faults = nullptr,
                  StatusSink* status = nullptr) const;

 private:
  std::FILE* file_;
};

// How a packing ended, as the pack program's exit code tells it.
enum class PackOutcome {
  Complete,    // the archive holds every gathered file (and kept old entry)
  Incomplete,  // the archive was written, but something had to be left out
  Failed,      // nothing was written; an existing archive is as it was
};
PackOutcome OutcomeOf(const PackResult& result);

// What one in-process packTukFiles call returned and printed.
struct PackRun {
  uint32_t result = 0;
  PackOutcome outcome = PackOutcome::Complete;
  std::string text;
};

// packTukFiles with writable copies of its strings (room for the '/').
// faults, when given, watches the run's file operations; status hears its
// progress; the lines of set are captured.
PackRun PackTree(const std::string& source, const std::string& prefix,
                 const std::string& archivePath, int32_t update = 0,
                 platform::FaultPlan* faults = nullptr, StatusSink* status = nullptr,
                 MessageSet set = MessageSet::Common);

// The real disk with plan watching it, as the library's public calls take
// it (options.environment).
struct FaultyEnvironment {
  explicit FaultyEnvironment(platform::FaultPlan& plan) : disk(plan) { env.disk = &disk; }
  FaultyEnvironment(const FaultyEnvironment&) = delete;
  FaultyEnvironment& operator=(const FaultyEnvironment&) = delete;
  platform::FaultyDisk disk;
  Environment env;
};

// One entry of a crafted archive.
struct CraftedEntry {
  std::string name;
  Bytes payload;           // stored bytes
  uint32_t size = 0;       // the entry's size field
  bool overrideOffset = false;
  uint32_t offset = 0;     // used when overrideOffset
  bool overrideStored = false;
  uint32_t storedSize = 0; // used when overrideStored
};

// Lays out header, payloads, index and trailer as the format has them.
Bytes CraftArchive(uint32_t mode, const std::vector<CraftedEntry>& entries);
// A mode-0 entry whose payload is the file itself.
CraftedEntry StoredEntry(const std::string& name, const Bytes& content);
// A mode-1 payload of one segment per given stream (sizes are the sums of
// what each stream is declared to decode to).
Bytes SegmentedPayload(const std::vector<Bytes>& streams,
                       const std::vector<uint32_t>& sizes);

void PutU32(Bytes& out, uint32_t value);
uint32_t GetU32(const Bytes& bytes, size_t at);

}  // namespace test
using test::PackOutcome;
}  // namespace tuk
