// The note pattern dialog ("Sonavel") shown after every analysed note: the plotted waveform,
// the range, the note being trained with its expected frequency, the record count and the
// pattern's six frequencies and weights, all copied from the shared text buffers when the
// dialog is built. Its four buttons end it; Choice() tells which. The dialog changes no run
// state itself: the caller applies the choice after ShowModal returns.
#pragma once

#include <wx/dialog.h>
#include <wx/panel.h>
#include <wx/string.h>

#include <array>

#include "training/FrontEnd.h"
#include "training/NoteTables.h"

class CNotePatternDlg : public wxDialog {
 public:
  explicit CNotePatternDlg(wxWindow* pParent);

  // How the dialog ended: a button, or Closed for Escape and the close box.
  NoteChoice Choice() const { return m_choice; }

  // Event handlers, public so that tests can drive them directly.
  void OnNext(wxCommandEvent& event);
  void OnReplay(wxCommandEvent& event);
  void OnDone(wxCommandEvent& event);
  void OnBack(wxCommandEvent& event);
  void OnPaint(wxPaintEvent& event);  // paints the plot frame

 private:
  void End(NoteChoice choice);

  wxString m_strFromNote;
  wxString m_strToNote;
  wxString m_strCurNote;
  wxString m_strRecordCount;
  std::array<wxString, kPeakCount> m_strWeight;
  std::array<wxString, kPeakCount> m_strFreq;
  wxString m_strExpectFreq;

  wxPanel* m_pPlot = nullptr;
  NoteChoice m_choice = NoteChoice::Closed;
};
