#include "training/PatternConfirmation.h"

void OnNext() { g_nTrainState = 1; }

void OnReplay() { g_nTrainState = 2; }

void OnDone() { g_nTrainState = 3; }

void OnBack() {
  g_nTrainState = 4;
  if (g_nCurNote > g_nFirstNote) {
    --g_nCurNote;
  }
}

void ApplyNoteChoice(NoteChoice choice) {
  switch (choice) {
    case NoteChoice::Next:
      OnNext();
      break;
    case NoteChoice::Replay:
      OnReplay();
      break;
    case NoteChoice::Done:
      OnDone();
      break;
    case NoteChoice::Back:
      OnBack();
      break;
    case NoteChoice::Closed:
      break;
  }
}

void ConfirmNotePattern(const NotePattern& pattern) {
  ApplyNoteChoice(AskNoteChoice(pattern));

  const std::int32_t nChoice = g_nTrainState;
  // A note index outside the tables (never reached by a run) stores and names nothing.
  const bool bValidNote = g_nCurNote >= 0 && g_nCurNote < kNoteCount;
  if (nChoice != 2 && bValidNote) {
    CopyText(g_szMessage, g_szNoteName[g_nCurNote]);
  }
  if (nChoice != 2 && nChoice != 4 && bValidNote) {
    g_fPattern[g_nCurNote] = pattern;
  }
}
