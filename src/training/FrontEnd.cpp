#include "training/FrontEnd.h"

namespace {

CNotePatternPrompt* g_pPrompt = nullptr;
CLogViewRedraw* g_pRedraw = nullptr;

}  // namespace

void SetNotePatternPrompt(CNotePatternPrompt* pPrompt) { g_pPrompt = pPrompt; }

void SetLogViewRedraw(CLogViewRedraw* pRedraw) { g_pRedraw = pRedraw; }

NoteChoice AskNoteChoice(const NotePattern& pattern) {
  return g_pPrompt != nullptr ? g_pPrompt->AskNoteChoice(pattern) : NoteChoice::Next;
}

void RedrawLogView() {
  if (g_pRedraw != nullptr) {
    g_pRedraw->RedrawLog();
  }
}
