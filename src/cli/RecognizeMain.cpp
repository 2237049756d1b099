#include <atomic>
#include <csignal>
#include <exception>
#include <iostream>

#include "cli/Recognize.h"

namespace {

std::atomic<bool> g_bInterrupted{false};

extern "C" void OnInterrupt(int /*nSignal*/) { g_bInterrupted.store(true); }

}  // namespace

int main(int argc, char** argv) {
  // Ctrl+C ends listening; the notes so far are still written.
  std::signal(SIGINT, OnInterrupt);
  std::signal(SIGTERM, OnInterrupt);
  // A reader that stops early (`| head`) must not cost the files asked for: a closed output
  // only ends the printing.
  std::signal(SIGPIPE, SIG_IGN);
  try {
    return RunRecognizer(argc, argv, std::cout, std::cerr, &g_bInterrupted);
  } catch (const std::exception& e) {
    std::cerr << "sonavel-recognize: " << e.what() << '\n';
    return 1;
  }
}
