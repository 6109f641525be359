// What a command takes of an archive, or of a tree: names given on the
// line or listed in a file (--files-from, with --null), and shell patterns
// to take or leave (--include, --exclude), as tar and 7z take them.
#pragma once

#include <string>
#include <vector>

#include "tuk/command_line.h"
#include "tuk/index.h"
#include "tuk/select.h"

namespace tuk {

struct SelectionArguments {
  Selection globs;
  std::string filesFrom;  // a file of names, "-" for standard input
  bool null = false;      // its names end with NUL rather than a line end
};

void AddSelectionOptions(CLI::App& command, SelectionArguments& selection);

// The names of arguments.filesFrom appended to names: one a line (a line
// end of "\r\n" too), or NUL-ended with null; empty ones skipped. False
// (reported) when the file cannot be read.
bool ReadNameList(const SelectionArguments& arguments, std::vector<std::string>& names);
// False (reported) when the archive read and the list of names would both
// be standard input: one stream cannot carry both.
bool OneUseOfStandardInput(const std::string& archive, const SelectionArguments& arguments);

// The entries of index a command takes, in this order: each name (the
// entry it stands for, Index::Lookup), then every entry an include
// pattern matches, in index order; none taken twice (but a name given
// twice with repeat), and none an exclude pattern matches. With no names
// and no include patterns, every entry but the excluded ones. A name or
// include pattern that matches no entry is reported and makes it false;
// which holds the rest all the same.
bool SelectEntries(const Index& index, const std::vector<std::string>& names,
                   const SelectionArguments& arguments, const std::string& archive,
                   std::vector<size_t>& which, bool repeat = false);

}  // namespace tuk
