// What every dialog of the program does alike on wx.
#pragma once

#include <wx/dialog.h>
#include <wx/stattext.h>

// Escape and the close box end a modal dialog with wxID_CANCEL, whether or not the dialog has
// a Cancel button. (wx would otherwise press the OK button of a dialog without one.)
inline void EndWithCancelOnEscape(wxDialog& dlg) {
  // The close box: with no wxID_CANCEL button wx then ends the modal loop with wxID_CANCEL.
  dlg.SetEscapeId(wxID_CANCEL);
  // Escape: handled before wx would look for the button.
  dlg.Bind(wxEVT_CHAR_HOOK, [&dlg](wxKeyEvent& event) {
    if (event.GetKeyCode() == WXK_ESCAPE && dlg.IsModal()) {
      dlg.EndModal(wxID_CANCEL);
      return;
    }
    event.Skip();
  });
}

// Widens each static text whose text is wider than its place (the desktop's font runs wider
// than the dialog units allow for some labels); texts grow to the right only.
inline void WidenTextsToFit(wxWindow& dlg) {
  for (wxWindow* pChild : dlg.GetChildren()) {
    if (auto* pText = dynamic_cast<wxStaticText*>(pChild)) {
      const int nWidth = pText->GetTextExtent(pText->GetLabel()).x;
      if (nWidth > pText->GetSize().x) {
        pText->SetSize(nWidth, pText->GetSize().y);
      }
    }
  }
}
