// What the core asks of the desktop program: the note pattern dialog, the log view's
// redraw, and message boxes (shown on the user-interface thread whichever thread asks).
#pragma once

#include "training/FrontEnd.h"

class CKorvoView;
class wxWindow;

class CWxFrontEnd final : public CNotePatternPrompt,
                          public CLogViewRedraw,
                          public CMessageBoxService {
 public:
  explicit CWxFrontEnd(CKorvoView* pView) : m_pView(pView) {}

  // Installs this object as the core's front end; Uninstall removes it.
  void Install();
  void Uninstall();

  NoteChoice AskNoteChoice(const NotePattern& pattern) override;
  void RedrawLog() override;
  void ShowMessage(const char* pszText) override;

 private:
  CKorvoView* m_pView;
};
