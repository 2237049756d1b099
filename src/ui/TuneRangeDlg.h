// The range dialog ("Tune To Your Instrument"): the first and last note of the training run,
// each stepped with a spin or typed as a note name. Ready hands both texts to AcceptRange and
// ends the dialog; the frame's range loop reads the outcome from g_nRunState.
#pragma once

#include <wx/dialog.h>
#include <wx/spinbutt.h>
#include <wx/string.h>
#include <wx/textctrl.h>

class CTuneRangeDlg : public wxDialog {
 public:
  explicit CTuneRangeDlg(wxWindow* pParent);
  ~CTuneRangeDlg() override;

  // Event handlers, public so that tests can drive them directly.
  void OnDeltaposFirstSpin(wxSpinEvent& event);
  void OnDeltaposLastSpin(wxSpinEvent& event);
  void OnKillfocusFirstNote(wxFocusEvent& event);
  void OnKillfocusLastNote(wxFocusEvent& event);
  void OnOK(wxCommandEvent& event);

 private:
  void MakeRoomForSpins();
  void ReadEdits();  // edits -> members
  void FillEdits();  // members -> edits

  wxSpinButton* m_spinLast = nullptr;
  wxSpinButton* m_spinFirst = nullptr;
  wxString m_strFirstNote;
  wxString m_strLastNote;
  wxTextCtrl* m_pFirstNote = nullptr;
  wxTextCtrl* m_pLastNote = nullptr;
};
