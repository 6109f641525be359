#include "tuk/selection.h"

#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <set>

#include "tuk/reporting.h"

namespace tuk {

void AddSelectionOptions(CLI::App& command, SelectionArguments& selection) {
  // One pattern an option, given as often as wanted: the words after it
  // stay operands.
  command.add_option("--include", selection.globs.include)
      ->type_name("GLOB")
      ->expected(1)
      ->allow_extra_args(false)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  command.add_option("--exclude", selection.globs.exclude)
      ->type_name("GLOB")
      ->expected(1)
      ->allow_extra_args(false)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  command.add_option("--files-from", selection.filesFrom)->type_name("FILE")->take_last();
  command.add_flag("--null", selection.null);
}

bool ReadNameList(const SelectionArguments& arguments, std::vector<std::string>& names) {
  if (arguments.filesFrom.empty()) return true;
  std::string text;
  if (arguments.filesFrom == "-") {
    SetBinaryMode(stdin);
    text.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
  } else {
    std::ifstream list(arguments.filesFrom, std::ios::binary);
    if (!list) {
      PrintError("cannot read " + arguments.filesFrom);
      return false;
    }
    text.assign(std::istreambuf_iterator<char>(list), std::istreambuf_iterator<char>());
  }
  const char end = arguments.null ? '\0' : '\n';
  size_t start = 0;
  while (start < text.size()) {
    size_t stop = text.find(end, start);
    if (stop == std::string::npos) stop = text.size();
    std::string name = text.substr(start, stop - start);
    if (!arguments.null && !name.empty() && name.back() == '\r') name.pop_back();
    if (!name.empty()) names.push_back(std::move(name));
    start = stop + 1;
  }
  return true;
}

bool OneUseOfStandardInput(const std::string& archive, const SelectionArguments& arguments) {
  if (archive != "-" || arguments.filesFrom != "-") return true;
  PrintError("the archive and --files-from cannot both be standard input");
  return false;
}

bool SelectEntries(const Index& index, const std::vector<std::string>& names,
                   const SelectionArguments& arguments, const std::string& archive,
                   std::vector<size_t>& which, bool repeat) {
  bool found = true;
  std::set<size_t> taken;
  auto take = [&](size_t i, bool again) {
    bool excluded = false;
    for (const std::string& pattern : arguments.globs.exclude) {
      if (MatchesEntry(pattern, index[i].name)) excluded = true;
    }
    if (!excluded && (taken.insert(i).second || again)) which.push_back(i);
  };
  for (const std::string& name : names) {
    if (const auto entry = index.Lookup(name)) {
      take(*entry, repeat);
    } else {
      PrintError("no entry " + name + " in " + archive);
      found = false;
    }
  }
  for (const std::string& pattern : arguments.globs.include) {
    bool matched = false;
    for (size_t i = 0; i < index.size(); ++i) {
      if (!MatchesEntry(pattern, index[i].name)) continue;
      matched = true;
      take(i, false);
    }
    if (!matched) {
      PrintError("no entry matches " + pattern + " in " + archive);
      found = false;
    }
  }
  if (names.empty() && arguments.globs.include.empty()) {
    for (size_t i = 0; i < index.size(); ++i) take(i, false);
  }
  return found;
}

}  // namespace tuk
