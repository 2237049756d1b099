#include "ui/WxFrontEnd.h"

#include <wx/app.h>
#include <wx/msgdlg.h>

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
  const wxString text = wxString::FromUTF8(pszText);
  if (wxTheApp != nullptr) {
    wxTheApp->CallAfter([text] { wxMessageBox(text, "korvo", wxOK); });
  }
}
