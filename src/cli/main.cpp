#include <atomic>
#include <csignal>
#include <iostream>

#include "cli/Trainer.h"

namespace {

std::atomic<bool> g_bInterrupted{false};

extern "C" void OnInterrupt(int /*nSignal*/) { g_bInterrupted.store(true); }

}  // namespace

int main(int argc, char** argv) {
  // Ctrl+C or a termination request ends the run cleanly between two events, before any
  // pattern file is written.
  std::signal(SIGINT, OnInterrupt);
  std::signal(SIGTERM, OnInterrupt);
  return RunTrainer(argc, argv, std::cout, std::cerr, &g_bInterrupted);
}
