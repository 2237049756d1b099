// Answers the note pattern dialog as a player at the dialog would, for a recording of the range
// played note by note: Next when the analysed block sounds the note asked for, Replay when it
// sounds an earlier one (the rest of the note before, a release: waited out however long it
// lasts) or no clear pitch. A block that sounds a later note means the note asked for has passed
// unaccepted: it is given up with Next, so the run catches up instead of stalling; so is a note
// whose blocks had no clear pitch kMaxRejections times.
#pragma once

#include <cstdint>

#include "training/FrontEnd.h"

class CAutoAnswerer {
 public:
  static constexpr int kMaxRejections = 6;

  // The answer for note index `nNote` whose analysed block is `pfBlock[0 .. 512)` and whose
  // pattern is `pattern`.
  NoteChoice Answer(const float* pfBlock, const NotePattern& pattern, std::int32_t nNote);

 private:
  std::int32_t m_nNote = -1;  // the note of the rejections counted
  int m_nRejections = 0;
};

// How the block's sound relates to the note asked for.
enum class BlockSound { TheNote, Earlier, Later, Unclear };
BlockSound CompareBlockWithNote(const float* pfBlock, const NotePattern& pattern,
                                std::int32_t nNote);
