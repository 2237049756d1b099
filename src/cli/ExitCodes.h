// Exit codes of the command-line programs.
#pragma once

inline constexpr int kExitBadInput = 1;  // bad arguments, a file that cannot be read or written
inline constexpr int kExitBadRange = 2;  // an invalid range of notes
inline constexpr int kExitInterrupted = 130;  // Ctrl+C or a termination request
