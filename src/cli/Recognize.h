// sonavel-recognize: the notes of a trained instrument in a recording (in virtual time, as
// fast as it can be read) or live from a sound input or a file played at its own pace.
#pragma once

#include <atomic>
#include <iosfwd>

// Runs the recogniser with the command line `argv`: one line per note on `out`, messages on
// `err`. Returns the exit code: 0 done (also when Ctrl+C ends listening to a device), 1 bad
// arguments or a file that cannot be read or written, 2 an invalid range of notes, 130 a file
// interrupted before its end (`pbInterrupted` set; the notes so far are still written).
int RunRecognizer(int argc, const char* const* argv, std::ostream& out, std::ostream& err,
                  const std::atomic<bool>* pbInterrupted = nullptr);
