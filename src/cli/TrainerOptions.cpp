#include "cli/TrainerOptions.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cctype>
#include <ostream>

#include "cli/ChoiceNames.h"
#include "cli/ExitCodes.h"
#include "cli/OptionParsing.h"

#ifndef SONAVEL_VERSION
#define SONAVEL_VERSION "0.0.0"
#endif

namespace {

// The dialog answers: N, R, B, D or X, comma-separated, either case, blanks ignored.
bool ParseChoices(const std::string& list, std::vector<NoteChoice>& choices, std::string& error) {
  std::string item;
  const auto flush = [&]() {
    if (item.empty()) {
      return true;
    }
    const char ch = item.size() == 1 ? static_cast<char>(item[0] & ~0x20) : '\0';
    const auto found = std::find_if(kChoiceNames.begin(), kChoiceNames.end(),
                                    [ch](const ChoiceName& name) { return name.cLetter == ch; });
    if (found == kChoiceNames.end()) {
      error = "--choices: '" + item + "' is not one of N, R, B, D, X";
      return false;
    }
    choices.push_back(found->choice);
    item.clear();
    return true;
  };
  for (const char ch : list) {
    if (ch == ',') {
      if (!flush()) {
        return false;
      }
    } else if (ch != ' ' && ch != '\t') {
      item += ch;
    }
  }
  return flush();
}

}  // namespace

std::optional<int> ParseTrainerOptions(int argc, const char* const* argv, TrainerOptions& options,
                                       std::ostream& out, std::ostream& err) {
  CLI::App app{
      "Trains note patterns from a recorded sound file, as the desktop program does "
      "from the sound card.",
      "sonavel-train"};
  app.add_option("--input", options.input, "sound file to train from");
  app.add_option("--first", options.first, "first note of the range (default C1)");
  app.add_option("--last", options.last, "last note of the range (default C6)");
  app.add_option("--choices", options.choices,
                 "answers to the note pattern dialogs, e.g. N,R,B,D,X (then N), or auto: judged "
                 "from the sound");
  app.add_option("--out", options.outDir, "folder for default_pattern.txt/.dat (default .)");
  app.add_option("--note-names", options.noteNames, "note_symbol.txt to use");
  app.add_option("--pad", options.pad, "seconds of silence after the sound (default 1.0)");
  app.add_option("--think", options.think,
                 "seconds each note pattern dialog stays open (default 0)");
  app.add_option("--trace", options.trace, "JSON Lines file, one object per dialog");
  app.add_option("--plot", options.plotDir,
                 "folder for one SVG picture per note pattern dialog and an index.html");
  app.add_option("--show", options.show,
                 "print a binary pattern file (.dat) as the text listing and exit");
  app.add_flag("--realtime", options.bRealtime,
               "play the file through the recorder in real time instead of virtual time");
  app.add_option("--device", options.device,
                 "train live from this input device (index or part of its name; "
                 "see --list-devices) instead of a file");
  app.add_flag("--list-devices", options.bListDevices, "list the sound input devices and exit");
  app.add_option("--speed", options.dSpeed,
                 "with --realtime: play the file this many times faster (default 1)")
      ->check(CLI::Range(0.1, 100.0));

  return ParseCommandLine(app, argc, argv, "sonavel-train", SONAVEL_VERSION, out, err);
}

bool CheckRunOptions(const TrainerOptions& options, TrainerRunSettings& settings,
                     std::string& error) {
  if (options.input.empty() == !options.device.has_value()) {
    error = options.device ? "--input and --device exclude each other"
                           : "--input is required (or --device to train live)";
    return false;
  }
  if (!ParseSeconds(options.pad, settings.dPadSeconds)) {
    error = "--pad takes a number of seconds from 0 to 86400, not '" + options.pad + "'";
    return false;
  }
  if (!ParseSeconds(options.think, settings.dThinkSeconds)) {
    error = "--think takes a number of seconds from 0 to 86400, not '" + options.think + "'";
    return false;
  }
  if (LowerCase(options.choices) == "auto") {
    settings.bAutoChoices = true;
    return true;
  }
  return ParseChoices(options.choices, settings.choices, error);
}
