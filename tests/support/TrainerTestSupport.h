// Runs sonavel-train in-process for tests.
#pragma once

#include <sstream>
#include <string>
#include <vector>

#include "cli/Trainer.h"

struct RunResult {
  int nCode = -1;
  std::string out;  // standard output: the log
  std::string err;  // standard error: messages

  // The log, line by line.
  std::vector<std::string> Log() const {
    std::vector<std::string> lines;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) {
      lines.push_back(line);
    }
    return lines;
  }
};

// sonavel-train with `args` (without the program name).
inline RunResult RunTrainerWith(std::vector<std::string> args) {
  args.insert(args.begin(), "sonavel-train");
  std::vector<const char*> argv;
  argv.reserve(args.size());
  for (const auto& arg : args) {
    argv.push_back(arg.c_str());
  }
  std::ostringstream out;
  std::ostringstream err;
  const int nCode = RunTrainer(static_cast<int>(argv.size()), argv.data(), out, err);
  return {nCode, out.str(), err.str()};
}
