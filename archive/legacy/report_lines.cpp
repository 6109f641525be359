#include "archive/legacy/report_lines.h"

namespace tuk {

void LegacyObserver::OnReport(const Report& report) {
  if (shown_ != nullptr && !shown_(report.event)) {
    context_.ShowStatus(report.subject.c_str());
    return;
  }
  const Messages& m = context_.messages;
  const char* subject = report.subject.c_str();
  const unsigned value = static_cast<unsigned>(report.value);
  switch (report.event) {
    case Event::kInputUnreadable: m.SayError("ERROR! inputFile: %s\n", subject); break;
    case Event::kInputTooBig:
      m.SayError("ERRROR! input file too big!: %llu\n",
                 static_cast<unsigned long long>(report.value));
      break;
    case Event::kInputNameTooLong: m.SayError("ERROR! Name too long: %s\n", subject); break;
    case Event::kInputPathTooLong: m.SayError("ERROR! Path too long: %s\n", subject); break;
    case Event::kInputNoMemory: m.SayError("ERROR! Not enough memory for: %s\n", subject); break;
    case Event::kDirectoryUnlisted: m.SayError("ERROR! Could not list directory: %s\n", subject); break;
    case Event::kEntryNotCarried: m.SayError("ERROR! Could not carry over: %s\n", subject); break;
    case Event::kOldArchiveUnreadable:
    case Event::kOldPayloadUnreadable:
      m.SayError("ERROR! Reading from existing .tuk file: %s\n", subject);
      break;
    case Event::kOldPayloadUnwritable:
      m.SayError("ERROR! Writing to existing .tuk file: %s\n", subject);
      break;
    case Event::kUnknownMode: m.SayError("ERROR! Unknown .tuk mode: %u\n", value); break;
    case Event::kArchiveTooLarge: m.SayError("ERROR! .tuk file would exceed 4 GB\n"); break;
    case Event::kArchiveUncreatable: {
      const std::string text = "Error! Could not create .tuk file: " + report.subject;
      context_.ShowStatus(text.c_str());
      break;
    }
    case Event::kArchiveUnwritable: m.SayError("ERROR! Could not write .tuk file: %s\n", subject); break;
    case Event::kMoveFailed:
      if (report.value == 2) {
        m.SayError("Error! kelMoveFile(): Could not open file: %s\n", subject);
      } else if (report.value == 3) {
        m.SayError("Error! kelMoveFile(): Could not create file: %s\n", subject);
      } else {
        m.SayError("Error! kelMoveFile(), reading or writing to .tuk file, tmpRetValue: %d\n",
                   static_cast<int>(report.value));
      }
      break;
    case Event::kWaitingForLock:
      m.Notice("Waiting for another program writing the archive (%s)\n", subject);
      break;
    case Event::kEntryDecodeFault: m.TraceError("ERROR! CRASH  Decompression()!\n"); break;
    case Event::kEntrySizeMismatch:
      m.TraceError("ERROR! Extract() fileSize: %u should be: %u\n", value,
                   static_cast<unsigned>(report.other));
      break;
    case Event::kEntryNoMemory: m.TraceError("ERROR! Not enough memory to extract: %s\n", subject); break;
    case Event::kEntryChecksumMismatch: m.TraceError("ERROR! Checksum mismatch: %s\n", subject); break;
    case Event::kEntryUnsafeName: m.TraceError("ERROR! Unsafe entry name: %s\n", subject); break;
    case Event::kEntryFileUncreatable: m.TraceError("ERROR! Could not write file: %s\n", subject); break;
    case Event::kEntryFileUnwritable: m.TraceError("ERROR! Could not write: %s\n", subject); break;
    // Only tuk's extraction keeps files or strips names; the legacy
    // programs' own would be their failure to make the file.
    case Event::kEntryInTheWay: m.TraceError("ERROR! Could not write file: %s\n", subject); break;
    case Event::kEntryKept:
    case Event::kEntryNameStripped:
      break;
  }
}

void LegacyObserver::OnProgress(const Progress& progress) {
  askCancel_ = false;
  if (progress.finished) {
    context_.ShowStatus("100 %");
    context_.ShowStatus("Writing Index...");
    return;
  }
  // A packing adds its files in ten slices of n / 10, with the status
  // receiver told the slice and asked whether to stop before each, and once
  // more before the rest.
  const uint64_t n = progress.filesTotal;
  const uint64_t q = n / 10;
  const uint64_t i = progress.filesDone;
  if (q > 0 && i < 10 * q && i % q == 0) {
    char text[8] = "00 %";
    text[0] = static_cast<char>('0' + i / q);
    context_.ShowStatus(text);
    askCancel_ = true;
  } else if (i == 10 * q) {
    askCancel_ = true;
  }
}

bool LegacyObserver::ShouldStop() {
  if (!askCancel_ || !context_.IsCancelled()) return false;
  context_.ShowStatus("Writing Index...");
  return true;
}

LegacyEnvironment::LegacyEnvironment(const Context& context) : observer_(context) {
  if (context.faults != nullptr) {
    faulty_.emplace(*context.faults);
    env_.disk = &*faulty_;
  }
  env_.observer = &observer_;
}

}  // namespace tuk
