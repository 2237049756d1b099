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
  try {
    return RunRecognizer(argc, argv, std::cout, std::cerr, &g_bInterrupted);
  } catch (const std::exception& e) {
    std::cerr << "sonavel-recognize: " << e.what() << '\n';
    return 1;
  }
}
