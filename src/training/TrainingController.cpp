#include "training/TrainingController.h"

#include <array>
#include <cstdio>
#include <cstring>

#include "analysis/Fft.h"
#include "analysis/PatternExtractor.h"
#include "analysis/SampleHistory.h"
#include "analysis/SegmentDetector.h"
#include "training/FrontEnd.h"
#include "training/NoteTables.h"

namespace {

constexpr const char* kSharpSuffix = "       -OK-";    // after a name with '#' third
constexpr const char* kPlainSuffix = "         -OK-";  // after any other name
constexpr const char* kFinished = " Finished!";

void FinishLine(std::int32_t nStep) {
  CopyText(g_szMessage, kFinished);
  CopyText(g_szLog[g_nLogLine], g_szMessage);
  AdvanceLogLine(nStep);
  RedrawLogView();
}

// Appends "-OK-" to the note's log line and moves on to the next note.
void AcceptCurrentNote() {
  if (std::strcmp(g_szNoteName[g_nCurNote], g_szLastNoteText) == 0 && g_nRunState != 0) {
    g_nRunState = 0;  // the last note of the range
  }
  CopyText(g_szMessage, g_szLog[g_nLogLine][2] == '#' ? kSharpSuffix : kPlainSuffix);
  ++g_nCurNote;
  AppendText(g_szLog[g_nLogLine], g_szMessage);
  AdvanceLogLine(1);
  RedrawLogView();
}

// Puts the current note on the log line the next "-OK-" completes, or finishes the run.
void ShowCurrentNote(std::int32_t nChoice) {
  const std::int32_t n = g_nCurNote;
  CopyText(g_szMessage, g_szNoteName[n]);
  CopyText(g_szCurNoteText, g_szMessage);
  std::snprintf(g_szExpectFreqText, sizeof g_szExpectFreqText, "%4d", g_nNoteFreq[n]);

  if (g_nRunState != 0 && nChoice != 3) {
    CopyText(g_szLog[g_nLogLine], g_szMessage);
    RedrawLogView();
    return;
  }
  if (g_nCurNote < kNoteCount) {
    for (std::int32_t k = g_nCurNote; k < kNoteCount; ++k) {
      g_fPattern[k] = NotePattern{};
    }
    g_nCurNote = kNoteCount;
  }
  FinishLine(1);
  g_nRunState = 3;
}

}  // namespace

std::int32_t NoteBlockStart(std::int32_t nSegStart, std::int32_t nSegEnd) {
  const std::int32_t nLen = nSegEnd - nSegStart;
  // (len - 512) * 0.05 truncated toward zero, which integer division gives exactly.
  return nSegStart + (nLen - kFftLen) / 20;
}

void ResetForNewRun() {
  ResetRunData();
  ClearStoredHistory();
  ResetDetector();
  InitNoteFrequencies();
  ResetLog();
}

void TrainingTimerPass() {
  if (g_nHistoryState.load() != 1 || g_nTrainState.load() == -1) {
    return;  // nothing recorded yet, or a note's dialog is open
  }
  DetectNoteSegment(g_fZeroCrossRing, g_fEnergyRing, g_nSegEnd, kWindowLen);
  if (g_nSegFound != 1 || g_nRunState == 3) {
    return;
  }

  // From here until the end of the pass the history drops captured buffers.
  g_nTrainState = -1;

  g_nPlotStart = g_nSegStart;
  g_nPlotSegEnd = g_nSegEnd;
  g_nPlotEnd = g_nSegEnd;
  if (g_nSegEnd - g_nSegStart >= kLongSegmentLen) {
    CopyText(g_szPlotMode, "1");
  } else {
    CopyText(g_szPlotMode, "2");
    g_nPlotEnd += kPlotExtension;
  }

  std::array<float, kFftLen> block{};
  CopyHistorySamples(NoteBlockStart(g_nSegStart, g_nSegEnd), kFftLen, block.data());
  FftMagnitudes(block.data());
  ExtractNotePattern(block.data());

  const std::int32_t nChoice = g_nTrainState.load();
  if (nChoice == 2) {
    // Replay: the same note is recorded again.
  } else if (g_nCurNote >= kTopNote) {
    // The top of the note range: the line that showed the note's name ends the run.
    g_nRunState = 3;
    FinishLine(2);
  } else {
    if (nChoice != 4) {
      AcceptCurrentNote();  // Next, Done, or the dialog closed without a button
    }
    ShowCurrentNote(nChoice);
  }

  if (nChoice == 3) {
    return;  // Done: capture stays stopped for the rest of the process
  }
  ResetHistory();
  ResetDetector();
  g_nTrainState = 0;
}
