// What the core asks of the desktop program: the note pattern dialog, the log view's
// redraw, and message boxes (shown on the user-interface thread whichever thread asks, one at
// a time).
#pragma once

#include "training/FrontEnd.h"
#include "ui/MessageQueue.h"

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
  // User-interface thread: shows the waiting messages one box after another.
  void ShowWaitingMessages();

  CKorvoView* m_pView;
  CMessageQueue m_messages;
  bool m_bShowing = false;  // a box of ShowWaitingMessages is open; user-interface thread only
};
