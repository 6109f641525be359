// tuk's command line: every command is a CLI11 subcommand, so options and
// operands may come in any order, "--" ends the options, and an unknown
// option is named in the error.
//
// A command is one row of the table in main.cpp: its name, its lines
// in `tuk --help`, its help text (shown after "Usage: " by `tuk COMMAND
// --help` and after a usage error; tests/man_options_test.sh checks that
// it names the options of its part of tuk(1)), and a function that
// declares its operands and options and returns what runs the command once
// the line has been parsed.
#pragma once

#include <CLI/CLI.hpp>

#include <functional>
#include <string>
#include <vector>

#include "tuk/extract.h"
#include "tuk/reporting.h"

namespace tuk {

using CommandRun = std::function<int()>;

struct Command {
  const char* name;
  const char* synopsis;  // "  NAME OPERANDS    what it does\n", as tuk --help lists it
  const char* help;      // "tuk NAME OPERANDS [OPTIONS]\n  What it does...\n"
  CommandRun (*define)(CLI::App& command);
};

// The compression choices of the commands that write payloads.
struct Compression {
  int level;         // 0: store files as they are
  unsigned threads;  // threads that compress; 0: every core
  Compression();
};

// -0..-9, --level N, --fast, --best; and -j N when withThreads. When two
// are given, the last on the line wins.
void AddCompressionOptions(CLI::App& command, Compression& compression, bool withThreads);
// -v (each entry as it is done) and -q (errors only).
void AddVerbosityOptions(CLI::App& command, Verbosity& verbosity);
// --keep, --overwrite and --newer: what extraction does with a file
// already where an entry goes; the last given wins.
void AddOverwriteOptions(CLI::App& command, ExtractOptions::Overwrite& overwrite);

// Parses argv against the commands and runs the one named. The text of
// `tuk --help` is head, every command's synopsis, then tail; version is
// that of `tuk --version`. Exit codes: the command's own, or 0 after help,
// 1 after a usage error.
int RunCommandLine(int argc, char** argv, const std::vector<Command>& commands,
                   const char* head, const char* tail, const char* version);

}  // namespace tuk
