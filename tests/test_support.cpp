#include "tests/test_support.h"

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

#include "archive/format/layout.h"
#include "archive/legacy/messages.h"

namespace fs = std::filesystem;

namespace tuk::test {

ScratchDir::ScratchDir() {
  previousCwd_ = fs::current_path().string();
  std::string pattern =
      (fs::temp_directory_path() / "tuk-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) {
    throw std::runtime_error("cannot make a scratch directory");
  }
  path_ = pattern;
}

ScratchDir::~ScratchDir() {
  std::error_code ignored;
  fs::current_path(previousCwd_, ignored);
  fs::remove_all(path_, ignored);
}

std::string ScratchDir::operator/(const std::string& relative) const {
  return path_ + "/" + relative;
}

void MakeDirs(const std::string& path) { fs::create_directories(path); }

void WriteFile(const std::string& path, const Bytes& bytes) {
  const fs::path parent = fs::path(path).parent_path();
  if (!parent.empty()) fs::create_directories(parent);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

void WriteFile(const std::string& path, const std::string& text) {
  WriteFile(path, BytesOf(text));
}

Bytes ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

bool FileExists(const std::string& path) { return fs::exists(path); }

Bytes BytesOf(const std::string& text) { return Bytes(text.begin(), text.end()); }

Bytes RandomBytes(size_t length, uint32_t seed) {
  std::mt19937 generator(seed);
  Bytes bytes(length);
  for (uint8_t& b : bytes) b = static_cast<uint8_t>(generator());
  return bytes;
}

std::vector<std::pair<std::string, Bytes>> TreeContents(const std::string& root) {
  std::vector<std::pair<std::string, Bytes>> files;
  for (const auto& item : fs::recursive_directory_iterator(root)) {
    if (!item.is_regular_file()) continue;
    files.emplace_back(fs::relative(item.path(), root).generic_string(),
                       ReadFile(item.path().string()));
  }
  std::sort(files.begin(), files.end());
  return files;
}

namespace {

std::string Quote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted += c;
    }
  }
  return quoted + "'";
}

// Lets a run against other builds of the programs (another platform's
// executables under an emulator, say) reuse every test.
std::string FromEnvironment(const char* variable, const char* fallback) {
  const char* value = std::getenv(variable);
  return value != nullptr && *value != '\0' ? value : fallback;
}

}  // namespace

std::string AsProgramSees(const std::string& path) {
  if (FromEnvironment("TUK_RUNNER", "").empty()) return path;
  std::string windows = "Z:" + path;
  std::replace(windows.begin(), windows.end(), '/', '\\');
  return windows;
}

std::string UnpackExe() { return FromEnvironment("TUK_UNPACK", TUK_UNPACK_EXE); }
std::string PackExe() { return FromEnvironment("TUK_PACK", TUK_PACK_EXE); }
std::string TukExe() { return FromEnvironment("TUK_TUK", TUK_TUK_EXE); }

std::string ShellCommand(const std::string& program) {
  return FromEnvironment("TUK_RUNNER", "") + " " + Quote(program);
}

RunResult RunCapturingErrors(const std::string& program, const std::vector<std::string>& args,
                             const std::string& workingDir) {
  char outPath[] = "/tmp/tuk-run-out-XXXXXX";
  char errPath[] = "/tmp/tuk-run-err-XXXXXX";
  const int outFd = mkstemp(outPath);
  const int errFd = mkstemp(errPath);
  RunResult result;
  if (outFd >= 0 && errFd >= 0) {
    std::string command = "cd " + Quote(workingDir) + " && " + ShellCommand(program);
    for (const std::string& arg : args) command += " " + Quote(arg);
    command += " </dev/null >" + Quote(outPath) + " 2>" + Quote(errPath);
    const int status = std::system(command.c_str());
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    const Bytes out = ReadFile(outPath);
    const Bytes err = ReadFile(errPath);
    result.output.assign(out.begin(), out.end());
    result.errors.assign(err.begin(), err.end());
  }
  for (const auto& [fd, path] : {std::make_pair(outFd, outPath), std::make_pair(errFd, errPath)}) {
    if (fd < 0) continue;
    close(fd);
    unlink(path);
  }
  return result;
}

RunResult Run(const std::string& program, const std::vector<std::string>& args,
              const std::string& workingDir) {
  std::string command = "cd " + Quote(workingDir) + " && " + ShellCommand(program);
  for (const std::string& arg : args) command += " " + Quote(arg);
  command += " </dev/null 2>/dev/null";
  RunResult result;
  std::FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return result;
  char buffer[4096];
  size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
    result.output.append(buffer, got);
  }
  const int status = pclose(pipe);
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  // Windows builds write standard output in text mode, "\n" as "\r\n".
  if (!FromEnvironment("TUK_RUNNER", "").empty()) {
    std::string::size_type at = 0;
    while ((at = result.output.find("\r\n", at)) != std::string::npos) {
      result.output.erase(at, 1);
      ++at;
    }
  }
  return result;
}

MessageCapture::MessageCapture() : file_(std::tmpfile()) {}

MessageCapture::~MessageCapture() { std::fclose(file_); }

Context MessageCapture::context(MessageSet set, platform::FaultPlan* faults,
                                StatusSink* status) const {
  Context context;
  context.messages = messages(set);
  context.faults = faults;
  context.status = status;
  return context;
}

std::string MessageCapture::Text() {
  std::fflush(file_);
  std::rewind(file_);
  std::string text;
  char buffer[4096];
  size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, file_)) > 0) {
    text.append(buffer, got);
  }
  return text;
}

PackRun PackTree(const std::string& source, const std::string& prefix,
                 const std::string& archivePath, int32_t update,
                 platform::FaultPlan* faults, StatusSink* status, MessageSet set) {
  std::vector<char> sourceDir(source.begin(), source.end());
  sourceDir.resize(source.size() + 2, '\0');
  std::vector<char> packDirName(prefix.begin(), prefix.end());
  packDirName.resize(prefix.size() + 2, '\0');
  MessageCapture capture;
  PackRun run;
  PackResult result;
  run.result = packTukFiles(sourceDir.data(), packDirName.data(),
                            archivePath.c_str(), update, 1, &result, nullptr,
                            capture.context(set, faults, status));
  run.outcome = OutcomeOf(result);
  run.text = capture.Text();
  return run;
}

PackOutcome OutcomeOf(const PackResult& result) {
  if (!result.status.ok() || result.entries == 0) return PackOutcome::Failed;
  return result.leftOut == 0 ? PackOutcome::Complete : PackOutcome::Incomplete;
}

void PutU32(Bytes& out, uint32_t value) {
  uint8_t le[4];
  WriteU32LE(le, value);
  out.insert(out.end(), le, le + 4);
}

uint32_t GetU32(const Bytes& bytes, size_t at) { return ReadU32LE(&bytes[at]); }

Bytes CraftArchive(uint32_t mode, const std::vector<CraftedEntry>& entries) {
  Bytes archive;
  PutU32(archive, 0);
  PutU32(archive, mode);
  archive.insert(archive.end(), kFixedBlock, kFixedBlock + kFixedBlockSize);
  std::vector<uint32_t> offsets;
  for (const CraftedEntry& entry : entries) {
    offsets.push_back(static_cast<uint32_t>(archive.size()));
    archive.insert(archive.end(), entry.payload.begin(), entry.payload.end());
  }
  const uint32_t indexOffset = static_cast<uint32_t>(archive.size());
  PutU32(archive, static_cast<uint32_t>(entries.size()));
  for (size_t i = 0; i < entries.size(); ++i) {
    const CraftedEntry& entry = entries[i];
    PutU32(archive, static_cast<uint32_t>(entry.name.size()));
    archive.insert(archive.end(), entry.name.begin(), entry.name.end());
    PutU32(archive, entry.overrideStored ? entry.storedSize
                                         : static_cast<uint32_t>(entry.payload.size()));
    PutU32(archive, entry.size);
    PutU32(archive, entry.overrideOffset ? entry.offset : offsets[i]);
    PutU32(archive, kReservedMarker);
    PutU32(archive, 0);
    PutU32(archive, 0);
  }
  PutU32(archive, 0);
  WriteU32LE(archive.data(), indexOffset);
  return archive;
}

CraftedEntry StoredEntry(const std::string& name, const Bytes& content) {
  CraftedEntry entry;
  entry.name = name;
  entry.payload = content;
  entry.size = static_cast<uint32_t>(content.size());
  return entry;
}

Bytes SegmentedPayload(const std::vector<Bytes>& streams,
                       const std::vector<uint32_t>& sizes) {
  Bytes payload;
  PutU32(payload, static_cast<uint32_t>(streams.size()));
  uint32_t offset = 0;
  for (size_t i = 0; i < streams.size(); ++i) {
    PutU32(payload, static_cast<uint32_t>(streams[i].size()));
    PutU32(payload, sizes[i]);
    PutU32(payload, offset);
    offset += static_cast<uint32_t>(streams[i].size());
  }
  for (const Bytes& stream : streams) {
    payload.insert(payload.end(), stream.begin(), stream.end());
  }
  return payload;
}

}  // namespace tuk::test
