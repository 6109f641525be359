#include "tuk/command_line.h"

#include <cstdio>
#include <cstring>
#include <memory>

#include "tuk/archive_writer.h"

namespace tuk {
namespace {

// Help is the command's own text, kept beside the command, rather than
// CLI11's generated listing: the texts are part of the program's behaviour
// and the man page follows them.
class HelpText : public CLI::Formatter {
 public:
  std::string make_help(const CLI::App* app, std::string, CLI::AppFormatMode) const override {
    return app->get_description();
  }
};

// Whether all a command printed reached standard output. SIGPIPE is
// ignored, so a reader that went away shows here, as a failure.
bool OutputWritten() {
  if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return true;
  PrintError("cannot write to standard output");
  return false;
}

}  // namespace

Compression::Compression() : level(WriterOptions::kDefault), threads(0) {}

void AddCompressionOptions(CLI::App& command, Compression& compression, bool withThreads) {
  for (int level = 0; level <= 9; ++level) {
    const std::string flag = "-" + std::to_string(level);
    command.add_flag_callback(flag, [&compression, level] { compression.level = level; })
        ->trigger_on_parse();
  }
  command.add_flag_callback("--fast", [&compression] { compression.level = WriterOptions::kFastest; })
      ->trigger_on_parse();
  command.add_flag_callback("--best", [&compression] { compression.level = WriterOptions::kSmallest; })
      ->trigger_on_parse();
  command
      .add_option_function<int>("--level", [&compression](const int& n) { compression.level = n; })
      ->type_name("N")
      ->check(CLI::Range(0, 9))
      ->trigger_on_parse();
  if (withThreads) {
    command
        .add_option_function<unsigned>(
            "-j", [&compression](const unsigned& n) { compression.threads = n; })
        ->type_name("N")
        ->check(CLI::Range(1u, 256u))
        ->take_last();
  }
}

void AddVerbosityOptions(CLI::App& command, Verbosity& verbosity) {
  command.add_flag_callback("-v", [&verbosity] { verbosity = Verbosity::kVerbose; })
      ->trigger_on_parse();
  command.add_flag_callback("-q", [&verbosity] { verbosity = Verbosity::kQuiet; })
      ->trigger_on_parse();
}

void AddOverwriteOptions(CLI::App& command, ExtractOptions::Overwrite& overwrite) {
  using Overwrite = ExtractOptions::Overwrite;
  command.add_flag_callback("--keep", [&overwrite] { overwrite = Overwrite::kKeep; })
      ->trigger_on_parse();
  command.add_flag_callback("--overwrite", [&overwrite] { overwrite = Overwrite::kOverwrite; })
      ->trigger_on_parse();
  command.add_flag_callback("--newer", [&overwrite] { overwrite = Overwrite::kNewer; })
      ->trigger_on_parse();
}

int RunCommandLine(int argc, char** argv, const std::vector<Command>& commands,
                   const char* head, const char* tail, const char* version) {
  std::string usageText = head;
  for (const Command& command : commands) usageText += command.synopsis;
  usageText += tail;
  const char* usage = usageText.c_str();
  if (argc < 2) {
    std::fputs(usage, stderr);
    return kTukUsage;
  }
  const std::string first = argv[1];
  if (first == "--help" || first == "-h" || first == "help") {
    std::fputs(usage, stdout);
    return kTukDone;
  }
  if (first == "--version") {
    std::fputs(version, stdout);
    return kTukDone;
  }

  CLI::App app(usage, "tuk");
  app.formatter(std::make_shared<HelpText>());
  app.require_subcommand(1);
  std::vector<CommandRun> runs(commands.size());
  bool known = false;
  for (size_t i = 0; i < commands.size(); ++i) {
    CLI::App* command = app.add_subcommand(commands[i].name, std::string("Usage: ") + commands[i].help);
    runs[i] = commands[i].define(*command);
    known = known || first == commands[i].name;
  }
  if (!known) {
    std::fprintf(stderr, "tuk: unknown %s: %s\n", first[0] == '-' ? "option" : "command",
                 first.c_str());
    std::fputs(usage, stderr);
    return kTukUsage;
  }

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    std::fputs(app.help().c_str(), stdout);
    return kTukDone;
  } catch (const CLI::ParseError& error) {
    std::fprintf(stderr, "tuk: %s\n", error.what());
    std::fputs(app.help().c_str(), stderr);
    return kTukUsage;
  }
  for (size_t i = 0; i < commands.size(); ++i) {
    if (!app.got_subcommand(commands[i].name)) continue;
    const int code = runs[i]();
    return code == kTukFailed || OutputWritten() ? code : kTukFailed;
  }
  return kTukUsage;
}

}  // namespace tuk
