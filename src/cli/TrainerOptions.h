// The command line of sonavel-train: the options as given, the parser that answers --help and
// --version, and the checks of what a training run takes from them.
#pragma once

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "training/FrontEnd.h"

struct TrainerOptions {
  std::string input;
  std::optional<std::string> first;
  std::optional<std::string> last;
  std::string choices;
  std::string outDir = ".";
  std::optional<std::string> noteNames;
  std::string pad = "1.0";
  std::string think = "0";
  std::optional<std::string> trace;
  std::optional<std::string> plotDir;
  std::optional<std::string> show;
  bool bRealtime = false;
  std::optional<std::string> device;
  bool bListDevices = false;
  double dSpeed = 1.0;
};

// Parses `argv` into `options`. Returns the exit code when the program ends here: 0 after
// --help or --version (printed on `out`), 1 after a malformed command line (reported on
// `err`); nothing when it goes on.
std::optional<int> ParseTrainerOptions(int argc, const char* const* argv, TrainerOptions& options,
                                       std::ostream& out, std::ostream& err);

// What a training run takes from the options, checked.
struct TrainerRunSettings {
  double dPadSeconds = 0.0;
  double dThinkSeconds = 0.0;
  std::vector<NoteChoice> choices;  // answers to the note pattern dialogs, in order
  bool bAutoChoices = false;        // --choices auto: each answer judged from the sound
};

// Checks the options of a training run: exactly one of --input and --device, then --pad,
// --think and --choices. False with a message for the first one that is wrong.
bool CheckRunOptions(const TrainerOptions& options, TrainerRunSettings& settings,
                     std::string& error);
