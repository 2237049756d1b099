#include "training/FrontEnd.h"

#include <atomic>
#include <cstdio>

namespace {

CNotePatternPrompt* g_pPrompt = nullptr;
CLogViewRedraw* g_pRedraw = nullptr;
std::atomic<CMessageBoxService*> g_pMessages{nullptr};

}  // namespace

void SetNotePatternPrompt(CNotePatternPrompt* pPrompt) { g_pPrompt = pPrompt; }

void SetLogViewRedraw(CLogViewRedraw* pRedraw) { g_pRedraw = pRedraw; }

void SetMessageBoxService(CMessageBoxService* pService) { g_pMessages = pService; }

NoteChoice AskNoteChoice(const NotePattern& pattern) {
  return g_pPrompt != nullptr ? g_pPrompt->AskNoteChoice(pattern) : NoteChoice::Next;
}

void RedrawLogView() {
  if (g_pRedraw != nullptr) {
    g_pRedraw->RedrawLog();
  }
}

void ShowMessageBox(const char* pszText) {
  if (CMessageBoxService* pService = g_pMessages.load()) {
    pService->ShowMessage(pszText);
    return;
  }
  std::fprintf(stderr, "Sonavel: %s\n", pszText);
}
