// What every dialog of the program does alike on wx.
#pragma once

#include <wx/app.h>
#include <wx/dialog.h>
#include <wx/display.h>
#include <wx/stattext.h>
#include <wx/string.h>

#include <algorithm>

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

// A text of the core (a note name from the user's note file, a shared text buffer) as wx shows
// it. The core's texts are meant to be UTF-8 but nothing checks them: each byte sequence that
// is not UTF-8 shows as U+FFFD (one for each maximal invalid run, as UTF-8 decoders commonly
// do), where wxString::FromUTF8 would give an empty text for the whole.
inline wxString CoreText(const char* pszText) {
  wxString text;
  const auto* p = reinterpret_cast<const unsigned char*>(pszText);
  while (*p != 0) {
    const unsigned char lead = *p++;
    if (lead < 0x80) {
      text += wxUniChar(static_cast<unsigned int>(lead));
      continue;
    }
    // The continuation bytes the lead byte asks for, and the range the first of them must lie
    // in to exclude overlong forms, surrogates and code points past U+10FFFF.
    int nMore = 0;
    unsigned int nCode = 0;
    unsigned char lo = 0x80;
    unsigned char hi = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
      nMore = 1;
      nCode = lead & 0x1FU;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      nMore = 2;
      nCode = lead & 0x0FU;
      lo = lead == 0xE0 ? 0xA0 : 0x80;
      hi = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      nMore = 3;
      nCode = lead & 0x07U;
      lo = lead == 0xF0 ? 0x90 : 0x80;
      hi = lead == 0xF4 ? 0x8F : 0xBF;
    }
    int nTaken = 0;
    while (nTaken < nMore && *p >= lo && *p <= hi) {
      nCode = (nCode << 6) | (*p++ & 0x3FU);
      lo = 0x80;
      hi = 0xBF;
      ++nTaken;
    }
    text += wxUniChar(nMore > 0 && nTaken == nMore ? nCode : 0xFFFDU);
  }
  return text;
}

// Places a dialog before it is shown: in the middle of the main window when that is on the
// screen, otherwise (the range and caution dialogs run while it is still hidden) in the middle
// of the screen. The dialogs have no parent, so wx would leave them where the window manager
// puts new windows.
inline void CentreOverMainWindow(wxDialog& dlg) {
  const wxWindow* pMain = wxTheApp != nullptr ? wxTheApp->GetTopWindow() : nullptr;
  if (pMain == nullptr || pMain == &dlg || !pMain->IsShown()) {
    dlg.CentreOnScreen();
    return;
  }
  const wxRect main = pMain->GetScreenRect();
  const wxRect area = wxDisplay(pMain).GetClientArea();
  const wxSize size = dlg.GetSize();
  // Kept on the screen when the main window lies partly off it.
  const int nX = std::clamp(main.x + (main.width - size.x) / 2, area.x,
                            std::max(area.x, area.GetRight() + 1 - size.x));
  const int nY = std::clamp(main.y + (main.height - size.y) / 2, area.y,
                            std::max(area.y, area.GetBottom() + 1 - size.y));
  dlg.Move(nX, nY);
}
