// The legacy packing entry points: the request's texts and checks, then
// the engine's scan and packing, with the legacy lines for what they
// report.
#include "archive/legacy/pack.h"

#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "archive/common/names.h"
#include "archive/format/layout.h"
#include "archive/legacy/extract_all.h"
#include "archive/legacy/report_lines.h"

namespace tuk {
namespace {

// The directory that receives the archive, for the free-space check: the
// path cut before its last separator, or ".\" when there is none or it
// stands at position 0 or 1.
std::string DestinationDirectory(const char* archivePath) {
  const std::string path(archivePath);
  const size_t separator = path.find_last_of("/\\");
  if (separator == std::string::npos || separator <= 1) return ".\\";
  return path.substr(0, separator);
}

void Normalise(char* text) {
  for (char* c = text; *c != '\0'; ++c) {
    if (*c == '\\') *c = '/';
  }
}

}  // namespace

uint32_t packTukFiles(char* sourceDir, char* PackDirName, const char* archivePath,
                      int32_t update, int32_t /*compress*/, PackResult* result,
                      const PayloadSettings* payloads, const Context& context) {
  const Messages& messages = context.messages;
  PackResult ignored;
  PackResult& outcome = result != nullptr ? *result : ignored;
  outcome = PackResult();
  auto refused = [&outcome](const char* why) {
    outcome.status = Status(Errc::kInvalidArgument, why);
    return 0u;
  };

  context.ShowStatus("Packing...");
  for (const char* path : {static_cast<const char*>(sourceDir),
                           static_cast<const char*>(PackDirName), archivePath}) {
    if (std::strlen(path) >= kPathBufferSize) {
      messages.SayError("ERROR! Path too long: %s\n", path);
      return refused("a path too long");
    }
  }

  PackRequest request;
  request.archivePath = archivePath;
  request.update = update == 1;
  if (payloads != nullptr) request.payloads = *payloads;
  request.payloads.mode = request.payloads.level > 0 ? kModeSegmented : kModeStored;
  const size_t sourceLength = std::strlen(sourceDir);
  request.basePathLength = sourceLength;
  if (sourceLength > 0 && sourceDir[sourceLength - 1] != '/' &&
      sourceDir[sourceLength - 1] != '\\') {
    ++request.basePathLength;
  }
  Normalise(sourceDir);
  // An empty PackDirName gives no prefix at all: a lone '/' would make
  // every name absolute.
  size_t prefixLength = std::strlen(PackDirName);
  if (prefixLength > 0 && PackDirName[prefixLength - 1] != '/' &&
      PackDirName[prefixLength - 1] != '\\') {
    PackDirName[prefixLength++] = '/';
    PackDirName[prefixLength] = '\0';
  }
  Normalise(PackDirName);
  request.prefix = PackDirName;

  LegacyEnvironment environment(context);
  std::unique_ptr<GatheredFiles> files(new (std::nothrow) GatheredFiles());
  if (!files) return refused("no memory");
  scanDirectory(*files, environment.env(), sourceDir);
  const uint32_t names = files->names.Count();
  messages.Say("TotalFiles: %u\n", names);
  messages.Say("  Uncompressed .tuk size (mb): %u\n", files->totalSize >> 20);
  const std::string tmpDestDirLoc = DestinationDirectory(archivePath);
  messages.Say("tmpDestDirLoc: %s\n", tmpDestDirLoc.c_str());

  if (names == 0) {
    context.ShowStatus("No files to pack..");
    return refused("no files to pack");
  }
  // The real sum, not the 32-bit one, decides whether the disk has room.
  const uint64_t needed = (files->totalSize64 >> 20) * 2;
  if (needed > freeDiskSpaceMB(tmpDestDirLoc.c_str())) {
    context.ShowStatus("Not enough free disk space!");
    messages.Say("  Free Disk Space (mb): %u\n", freeDiskSpaceMB(tmpDestDirLoc.c_str()));
    return refused("not enough free disk space");
  }

  outcome = PackFiles(*files, request, environment.env());
  if (outcome.status.ok() && outcome.entries > 0) {
    const std::string text = "Files packed: " + std::to_string(outcome.entries);
    context.ShowStatus(text.c_str());
  }
  return outcome.entries;
}

uint32_t packByName(const char* name, int32_t compress, PackResult* result,
                    const Context& context) {
  const Messages& messages = context.messages;
  context.ShowStatus("Packing...");
  const std::string nameText(name);
  std::string sourceDir = "../" + nameText;
  std::string packDirName = nameText;
  const std::string archivePath = nameText + ".tuk";
  if (compress != 0) {
    if (NamesEqual(nameText, "sound")) {
      compress = 0;
      messages.Say("FORCING sound.tuk uncompressed\n");
    } else if (NamesEqual(nameText, "music")) {
      compress = 0;
      messages.Say("FORCING music.tuk uncompressed\n");
    }
  }
  // Room for the '/' that PackDirName gets.
  sourceDir.push_back('\0');
  packDirName.append(2, '\0');
  packTukFiles(&sourceDir[0], &packDirName[0], archivePath.c_str(), 0, compress, result,
               nullptr, context);
  return 0;
}

}  // namespace tuk
