// tuk's command line: every command is a CLI11 subcommand, so options and
// operands may come in any order, "--" ends the options, and an unknown
// option is named in the error.
//
// A command is one table row: its name, its help text (shown after
// "Usage: " by `tuk COMMAND --help` and after a usage error), and a function
// that declares its operands and options on the subcommand and returns what
// runs the command once the line has been parsed.
#pragma once

#include <CLI/CLI.hpp>

#include <functional>
#include <string>
#include <vector>

namespace tuk {

using CommandRun = std::function<int()>;

struct Command {
  const char* name;
  const char* help;  // "tuk NAME OPERANDS [OPTIONS]\n  What it does...\n"
  CommandRun (*define)(CLI::App& command);
};

// The compression choices of the commands that write payloads.
struct Compression {
  int level;         // 0: store files as they are
  unsigned threads;  // threads that compress
  Compression();
};

// -0..-9, --level N, --fast, --best; and -j N when withThreads. When two
// are given, the last on the line wins.
void AddCompressionOptions(CLI::App& command, Compression& compression, bool withThreads);

// Parses argv against the commands and runs the one named. usage is the
// text of `tuk --help`; version that of `tuk --version`. Exit codes: the
// command's own, or 0 after help, 1 after a usage error.
int RunCommandLine(int argc, char** argv, const std::vector<Command>& commands,
                   const char* usage, const char* version);

}  // namespace tuk
