#include "ui/TuneRangeDlg.h"

#include <wx/button.h>
#include <wx/xrc/xmlres.h>

#include <algorithm>
#include <string>

#include "training/NoteTables.h"
#include "training/RangeValidation.h"
#include "ui/DialogSupport.h"

namespace {

wxString NoteName(std::int32_t nIndex) { return CoreText(g_szNoteName[nIndex]); }

// Letters typed into `edit` go in as capitals, at the caret or over the selection like any
// typed character. (wx's ForceUpper on GTK3 leaves the caret before each letter it converts,
// so typed notes came out reversed.) Text that arrives otherwise, pasted or dropped, is
// converted once its change is complete, keeping the caret and the selection.
void TypeInUpperCase(wxTextCtrl& edit) {
  edit.Bind(wxEVT_CHAR, [&edit](wxKeyEvent& event) {
    const wxChar ch = event.GetUnicodeKey();
    if (ch != WXK_NONE && wxIslower(ch) && !event.HasAnyModifiers()) {
      edit.WriteText(wxString(static_cast<wxChar>(wxToupper(ch))));
      return;
    }
    event.Skip();
  });
  edit.Bind(wxEVT_TEXT, [&edit](wxCommandEvent& event) {
    event.Skip();
    edit.CallAfter([&edit] {
      const wxString value = edit.GetValue();
      if (value.Upper() == value) {
        return;
      }
      long nFrom = 0;
      long nTo = 0;
      edit.GetSelection(&nFrom, &nTo);
      const long nCaret = edit.GetInsertionPoint();
      edit.ChangeValue(value.Upper());
      if (nFrom != nTo) {
        edit.SetSelection(nFrom, nTo);
      } else {
        edit.SetInsertionPoint(nCaret);
      }
    });
  });
}

// The position a spin steps to, kept within the notes: at either end it does not change.
std::int32_t SteppedPosition(const wxSpinEvent& event) {
  return std::clamp<std::int32_t>(event.GetPosition(), 0, kNoteCount - 1);
}

}  // namespace

CTuneRangeDlg::CTuneRangeDlg(wxWindow* pParent)
    : m_strFirstNote(NoteName(g_nRangeFirst)), m_strLastNote(NoteName(g_nRangeLast)) {
  wxXmlResource::Get()->LoadDialog(this, pParent, "TuneRangeDlg");
  m_spinLast = XRCCTRL(*this, "IDC_LAST_SPIN", wxSpinButton);
  m_spinFirst = XRCCTRL(*this, "IDC_FIRST_SPIN", wxSpinButton);
  m_pFirstNote = XRCCTRL(*this, "IDC_FIRST_NOTE", wxTextCtrl);
  m_pLastNote = XRCCTRL(*this, "IDC_LAST_NOTE", wxTextCtrl);

  MakeRoomForSpins();
  for (wxTextCtrl* pEdit : {m_pFirstNote, m_pLastNote}) {
    pEdit->SetMaxLength(static_cast<unsigned long>(kMaxNoteChars));
    TypeInUpperCase(*pEdit);
  }
  FillEdits();
  // The resource cannot give a spin its range and position: the up arrow raises the index.
  m_spinFirst->SetRange(0, kNoteCount - 1);
  m_spinFirst->SetValue(g_nRangeFirst);
  m_spinLast->SetRange(0, kNoteCount - 1);
  m_spinLast->SetValue(g_nRangeLast);

  // wxEVT_SPIN follows every step of either direction, with the position stepped to.
  m_spinFirst->Bind(wxEVT_SPIN, &CTuneRangeDlg::OnDeltaposFirstSpin, this);
  m_spinLast->Bind(wxEVT_SPIN, &CTuneRangeDlg::OnDeltaposLastSpin, this);
  m_pFirstNote->Bind(wxEVT_KILL_FOCUS, &CTuneRangeDlg::OnKillfocusFirstNote, this);
  m_pLastNote->Bind(wxEVT_KILL_FOCUS, &CTuneRangeDlg::OnKillfocusLastNote, this);
  Bind(wxEVT_BUTTON, &CTuneRangeDlg::OnOK, this, wxID_OK);
  EndWithCancelOnEscape(*this);

  // Ready and the two edits are the only tab stops: Tab from Last Note goes back to Ready, so
  // that Enter then presses it. Ready has the focus when the dialog opens.
  for (const char* pszName : {"IDC_FIRST_LABEL", "IDC_LAST_LABEL"}) {
    FindWindow(XRCID(pszName))->DisableFocusFromKeyboard();
  }
  m_spinFirst->DisableFocusFromKeyboard();
  m_spinLast->DisableFocusFromKeyboard();
  XRCCTRL(*this, "wxID_OK", wxButton)->SetFocus();
  CentreOverMainWindow(*this);
}

CTuneRangeDlg::~CTuneRangeDlg() {
  // The edits outlive this part of the dialog (wx destroys the children later); an edit that
  // has the focus then reports losing it, and its handler must not run on what is left.
  m_pFirstNote->Unbind(wxEVT_KILL_FOCUS, &CTuneRangeDlg::OnKillfocusFirstNote, this);
  m_pLastNote->Unbind(wxEVT_KILL_FOCUS, &CTuneRangeDlg::OnKillfocusLastNote, this);
}

void CTuneRangeDlg::MakeRoomForSpins() {
  // GTK draws a spin as a [-][+] pair, wider and taller than the 14 by 12 dialog units it is
  // given. Each spin gets its natural size, centred on its place vertically; its frame, the
  // group box and the dialog grow to the right by the extra width, and Ready moves by half of
  // it to stay centred.
  const wxSize best = m_spinFirst->GetBestSize();
  const wxSize given = m_spinFirst->GetSize();
  const int nGrow = std::max(0, best.x - given.x);
  const int nTaller = std::max(0, best.y - given.y);
  for (wxWindow* pSpin : {m_spinFirst, m_spinLast}) {
    const wxPoint pos = pSpin->GetPosition();
    pSpin->SetSize(pos.x, pos.y - nTaller / 2, given.x + nGrow, given.y + nTaller);
  }
  if (nGrow == 0) {
    return;
  }
  for (const char* pszFrame : {"IDC_TUNING_RANGE", "IDC_FIRST_FRAME", "IDC_LAST_FRAME"}) {
    wxWindow* pFrame = FindWindow(XRCID(pszFrame));
    pFrame->SetSize(pFrame->GetSize().x + nGrow, pFrame->GetSize().y);
  }
  wxWindow* pReady = FindWindow(wxID_OK);
  pReady->Move(pReady->GetPosition().x + nGrow / 2, pReady->GetPosition().y);
  SetClientSize(GetClientSize().x + nGrow, GetClientSize().y);
}

void CTuneRangeDlg::ReadEdits() {
  m_strFirstNote = CoreText(EditNoteText(m_pFirstNote->GetValue().utf8_string()).c_str());
  m_strLastNote = CoreText(EditNoteText(m_pLastNote->GetValue().utf8_string()).c_str());
}

void CTuneRangeDlg::FillEdits() {
  m_pFirstNote->ChangeValue(m_strFirstNote);
  m_pLastNote->ChangeValue(m_strLastNote);
}

void CTuneRangeDlg::OnDeltaposFirstSpin(wxSpinEvent& event) {
  const std::int32_t nPos = SteppedPosition(event);
  g_nRangeFirst = nPos;
  if (nPos > g_nRangeLast) {
    g_nRangeLast = nPos;
    m_strLastNote = NoteName(nPos);
    m_spinLast->SetValue(nPos);
  }
  m_strFirstNote = NoteName(g_nRangeFirst);
  FillEdits();
}

void CTuneRangeDlg::OnDeltaposLastSpin(wxSpinEvent& event) {
  const std::int32_t nPos = SteppedPosition(event);
  g_nRangeLast = nPos;
  if (g_nRangeFirst > nPos) {
    g_nRangeFirst = nPos;
    m_strFirstNote = NoteName(nPos);
    m_spinFirst->SetValue(nPos);
  }
  m_strLastNote = NoteName(g_nRangeLast);
  FillEdits();
}

void CTuneRangeDlg::OnKillfocusFirstNote(wxFocusEvent& event) {
  event.Skip();
  ReadEdits();
  NormalizeNoteText(m_strFirstNote.utf8_str(), g_szFirstNoteText);
  const std::int32_t nIndex = FindNoteIndex(g_szFirstNoteText);
  if (nIndex < 0) {
    return;
  }
  g_nRangeFirst = nIndex;
  m_spinFirst->SetValue(nIndex);
  FillEdits();
}

void CTuneRangeDlg::OnKillfocusLastNote(wxFocusEvent& event) {
  event.Skip();
  ReadEdits();
  NormalizeNoteText(m_strLastNote.utf8_str(), g_szLastNoteText);
  const std::int32_t nIndex = FindNoteIndex(g_szLastNoteText);
  if (nIndex < 0) {
    return;
  }
  g_nRangeLast = nIndex;
  m_spinLast->SetValue(nIndex);
  FillEdits();
}

void CTuneRangeDlg::OnOK(wxCommandEvent& /*event*/) {
  ReadEdits();
  AcceptRange(m_strFirstNote.ToStdString(wxConvUTF8), m_strLastNote.ToStdString(wxConvUTF8));
  // The spins show what was recognised (AcceptRange moves an end only when it matched).
  m_spinFirst->SetValue(g_nRangeFirst);
  m_spinLast->SetValue(g_nRangeLast);
  EndModal(wxID_OK);
}
