#include "unpack/unpack_command.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "archive/legacy/messages.h"
#include "archive/legacy/tuk_file.h"
#include "platform/platform.h"

namespace tuk {
namespace {

// Each argument is taken up to this many characters.
constexpr size_t kArgumentLength = 500;
// A list file line is read in pieces of at most 499 characters.
constexpr int kListLineBuffer = 500;

void Print(const char* text) {
  std::fputs(text, stdout);
  std::fflush(stdout);
}

void PrintOptions() {
  Print(" Options: \n"
        "   -i[indexToExtract]       -i123\n"
        "   -f[filenameToExtract]    -fObjects/Vehicles/Land/Harlo/Objects.con\n"
        "   -l[listFile.lst]         -lC:\\extractFileList.lst\n");
}

std::string Argument(const char* text) {
  return std::string(text, strnlen(text, kArgumentLength));
}

// Extracts every entry named in the list file; false when the list cannot
// be read or any name fails.
bool ExtractListed(TukFile& archive, const char* listPath,
                   const char* strExtractPath) {
  platform::File list;
  if (!list.Open(listPath, platform::File::Mode::ReadText)) return false;
  bool allDone = true;
  char line[kListLineBuffer];
  while (list.ReadLine(line, sizeof line)) {
    if (TrimListLine(line) == 0) continue;
    if (archive.ExtractByName(line, strExtractPath) == nullptr) allDone = false;
  }
  return allDone;
}

int RunOption(TukFile& archive, const std::string& optionText,
              const char* strExtractPath) {
  if (optionText.size() < 3) {
    Print("-Options string not long enough! (Must have more than 2 characters)");
    return kUnpackUsage;
  }
  if (optionText[0] != '-') return kUnpackUsage;
  const std::string value = optionText.substr(2);
  switch (optionText[1]) {
    case 'f':
      std::printf(" $Extract file name: %s\n", value.c_str());
      std::fflush(stdout);
      return archive.ExtractByName(value.c_str(), strExtractPath) != nullptr
                 ? kUnpackDone
                 : kUnpackFailed;
    case 'l':
      std::printf(" $Extract files FileList: %s\n", value.c_str());
      std::fflush(stdout);
      return ExtractListed(archive, value.c_str(), strExtractPath)
                 ? kUnpackDone
                 : kUnpackFailed;
    case 'i': {
      // Leading blanks, a sign, then digits; 0 when there are none. Values
      // beyond an int are held at its limits.
      long parsed = std::strtol(value.c_str(), nullptr, 10);
      if (parsed > INT_MAX) parsed = INT_MAX;
      if (parsed < INT_MIN) parsed = INT_MIN;
      const int index = static_cast<int>(parsed);
      std::printf(" $Extract file index: \"%s\" = %d\n", value.c_str(), index);
      std::fflush(stdout);
      return archive.Extract(static_cast<uint32_t>(index), strExtractPath) !=
                     nullptr
                 ? kUnpackDone
                 : kUnpackFailed;
    }
    default:
      Print("-Options string not reconized!");
      PrintOptions();
      return kUnpackUsage;
  }
}

}  // namespace

size_t TrimListLine(char* line) {
  size_t n = std::strlen(line);
  if (n == 0) return 0;
  // Position n holds the terminating NUL, which counts as a blank too.
  while (n >= 1 && static_cast<signed char>(line[n]) < 33) --n;
  if (n == 0) return 0;
  line[n + 1] = '\0';
  return n + 1;
}

// The trace the unpack program has always shown while it sets up its
// archive object; the numbers mark the stages of that set-up.
void TraceArchiveSetUp(const Messages& messages) {
  messages.Trace("TukFile()\n");
  for (int stage : {26, 46, 48, 54, 58, 64}) messages.Trace("  %d\n", stage);
  messages.Trace("end TukFile()\n");
}

int RunUnpack(int argc, char** argv) {
  Print("|| .TUK UNPACK ||\n");
  if (argc < 2) {
    Print(" Usage: tukUnpack.exe <Archive.tuk> [ExtractToPath] [-option]\n");
    PrintOptions();
    return kUnpackUsage;
  }

  std::string startDirectory;
  platform::GetCurrentDir(startDirectory);
  std::string strExtractPath = startDirectory;
  if (argc > 2) strExtractPath = Argument(argv[2]);
  const bool hasOption = argc > 3;
  const std::string optionText = hasOption ? Argument(argv[3]) : std::string();
  const std::string strArchive = Argument(argv[1]);

  std::printf("strExtractPath: %s\n", strExtractPath.c_str());
  std::fflush(stdout);
  if (!platform::SetCurrentDir(strExtractPath.c_str())) {
    std::printf("Error! Directory does not exist: %s\n", strExtractPath.c_str());
    std::fflush(stdout);
    return kUnpackUsage;
  }
  // From here on the extraction directory is used by its absolute path;
  // the archive path is resolved against the start directory.
  if (!platform::GetCurrentDir(strExtractPath) ||
      !platform::SetCurrentDir(strExtractPath.c_str()) ||
      !platform::SetCurrentDir(startDirectory.c_str())) {
    return kUnpackFailed;
  }

  Context context;
  context.messages = Messages(MessageSet::WithUnpack);
  TraceArchiveSetUp(context.messages);
  TukFile archive(context);
  std::snprintf(archive.tuk_file_name, sizeof archive.tuk_file_name, "%s",
                strArchive.c_str());
  archive.LoadIndex(strArchive.c_str());

  if (hasOption) return RunOption(archive, optionText, strExtractPath.c_str());
  const uint32_t result = archive.ExtractAll(strExtractPath.c_str());
  return result == 0 && !archive.indexDamaged ? kUnpackDone : kUnpackFailed;
}

}  // namespace tuk
