// sonavel-train: one whole training run over a recorded sound file instead of the sound card,
// in virtual time. Buffer k of 512 samples completes at (k + 1) * 512 / 11025 s, timer tick j
// fires at j * 0.1 s; events run in time order, a buffer before a tick at the same time.
#pragma once

#include <atomic>
#include <iosfwd>

// Runs the trainer with the command line `argv`. The log goes to `out`, messages to `err`.
// Returns the exit code: 0 done, 1 bad arguments or a file that cannot be read or written,
// 2 an invalid range, 130 interrupted (`pbInterrupted` set; no pattern file is written then).
int RunTrainer(int argc, const char* const* argv, std::ostream& out, std::ostream& err,
               const std::atomic<bool>* pbInterrupted = nullptr);
