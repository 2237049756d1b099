#include "ui/WxFrontEnd.h"

#include <wx/app.h>
#include <wx/msgdlg.h>

#include <cstdio>
#include <string>

#include "ui/DialogSupport.h"
#include "ui/KorvoView.h"
#include "ui/NotePatternDlg.h"

void CWxFrontEnd::Install() {
  SetNotePatternPrompt(this);
  SetLogViewRedraw(this);
  SetMessageBoxService(this);
}

void CWxFrontEnd::Uninstall() {
  SetNotePatternPrompt(nullptr);
  SetLogViewRedraw(nullptr);
  SetMessageBoxService(nullptr);
}

NoteChoice CWxFrontEnd::AskNoteChoice(const NotePattern& /*pattern*/) {
  CNotePatternDlg dialog(nullptr);
  dialog.ShowModal();
  return dialog.Choice();
}

void CWxFrontEnd::RedrawLog() { m_pView->RedrawLog(); }

void CWxFrontEnd::ShowMessage(const char* pszText) {
  // Windows exist only on the user-interface thread: the box is shown from its event loop,
  // and the caller (perhaps the capture thread) does not wait for it.
  if (m_messages.Post(pszText) && wxTheApp != nullptr) {
    wxTheApp->CallAfter([this] { ShowWaitingMessages(); });
  }
}

void CWxFrontEnd::ShowWaitingMessages() {
  if (m_bShowing) {
    return;  // called from the open box's event loop: the loop below shows this one too
  }
  m_bShowing = true;
  std::string text;
  while (m_messages.Front(text)) {
    wxMessageBox(CoreText(text.c_str()), "korvo", wxOK);
    if (const int nRepeats = m_messages.Pop(); nRepeats > 0) {
      std::fprintf(stderr, "Sonavel: %s (%d more times while its message was open)\n", text.c_str(),
                   nRepeats);
    }
  }
  m_bShowing = false;
}
