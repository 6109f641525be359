// Archives on standard input and output. An archive's index lies at its
// end, and its header (at its start) says where: a stream can be neither
// read nor written in one pass. So an archive named "-" is spooled to a
// temporary file in a directory of its own, made for the run in the
// temporary directory (TMPDIR) and open to this user alone: one read from
// standard input is copied there whole first (at most 4 GiB, what an
// archive can hold); one written to standard output is made there and
// copied out once complete. The directory goes when the command ends.
#pragma once

#include <string>

#include "tuk/archive_reader.h"

namespace tuk {

// The directory of one run's spools; removed with what it holds, also
// when a signal (SIGINT, SIGTERM, SIGHUP) ends the run.
class SpoolDirectory {
 public:
  SpoolDirectory() = default;
  ~SpoolDirectory();
  SpoolDirectory(const SpoolDirectory&) = delete;
  SpoolDirectory& operator=(const SpoolDirectory&) = delete;
  // A path in the directory (made on first use); empty, reported, when it
  // cannot be made.
  std::string File(const char* name);

 private:
  std::string path_;
  int firstLeftover_ = 0;  // where its paths start among those a signal removes
};

// The archive a command reads: a path, or "-" for standard input.
class ArchiveInput {
 public:

  // The path to read: path itself, or the spool of standard input (empty,
  // reported, when it cannot be made or standard input is a terminal).
  std::string Path(const std::string& path);
  // Opens reader on path as Path gives it, as ArchiveReader::Open does.
  Status Open(const std::string& path, ArchiveReader& reader);
  // Opens reader for a command that uses what it can: of an archive damaged
  // after some entries, those (the message says they alone are used, as
  // used says: "listed", "read"), setting damaged. False, reported, when
  // nothing can be read: no such file, or standard input that is not a
  // whole archive.
  bool OpenUsable(const std::string& path, ArchiveReader& reader, const char* used,
                  bool& damaged);
  // What names the archive in messages.
  static std::string Shown(const std::string& path);

 private:
  SpoolDirectory spools_;
  std::string spool_;
};

// The archive a command writes: a path, or "-" for standard output.
class ArchiveOutput {
 public:
  explicit ArchiveOutput(std::string path) : path_(std::move(path)) {}

  // Where to make the archive (empty, reported, when no spool can be made
  // or standard output is a terminal).
  std::string Path();
  bool ToStream() const { return path_ == "-"; }
  // Copies a spooled archive to standard output; false (reported) when it
  // could not be written whole, a broken pipe among the causes.
  bool Deliver();

 private:
  SpoolDirectory spools_;
  std::string path_;
  std::string made_;
};

}  // namespace tuk
