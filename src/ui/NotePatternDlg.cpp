#include "ui/NotePatternDlg.h"

#include <wx/button.h>
#include <wx/dcclient.h>
#include <wx/stattext.h>
#include <wx/xrc/xmlres.h>

#include <cmath>
#include <mutex>
#include <string>

#include "analysis/SampleHistory.h"
#include "training/NotePlot.h"
#include "ui/DialogSupport.h"

namespace {

wxString Text(const char* pszBuffer) { return CoreText(pszBuffer); }

void ShowText(wxWindow& dlg, const std::string& name, const wxString& text) {
  XRCCTRL(dlg, name.c_str(), wxStaticText)->SetLabel(text);
}

const wxPen& PenFor(PlotLine::Pen pen) {
  static const wxPen cyan(wxColour(0, 255, 255), 1, wxPENSTYLE_SOLID);
  switch (pen) {
    case PlotLine::Pen::White:
      return *wxWHITE_PEN;
    case PlotLine::Pen::Cyan:
      return cyan;
    case PlotLine::Pen::Black:
      break;
  }
  return *wxBLACK_PEN;
}

}  // namespace

CNotePatternDlg::CNotePatternDlg(wxWindow* pParent)
    : m_strFromNote(Text(g_szFirstNoteText)),
      m_strToNote(Text(g_szLastNoteText)),
      m_strCurNote(Text(g_szCurNoteText)),
      m_strRecordCount(Text(g_szPlotMode)),
      m_strExpectFreq(Text(g_szExpectFreqText)) {
  for (std::size_t k = 0; k < kPeakCount; ++k) {
    m_strWeight[k] = Text(g_szWeightText[k]);
    m_strFreq[k] = Text(g_szFreqText[k]);
  }

  wxXmlResource::Get()->LoadDialog(this, pParent, "NotePatternDlg");
  ShowText(*this, "IDC_FROM_NOTE", m_strFromNote);
  ShowText(*this, "IDC_TO_NOTE", m_strToNote);
  ShowText(*this, "IDC_CUR_NOTE", m_strCurNote);
  ShowText(*this, "IDC_RECORD_COUNT", m_strRecordCount);
  for (std::size_t k = 0; k < kPeakCount; ++k) {
    ShowText(*this, "IDC_WEIGHT" + std::to_string(k + 1), m_strWeight[k]);
    ShowText(*this, "IDC_FREQ" + std::to_string(k + 1), m_strFreq[k]);
  }
  ShowText(*this, "IDC_EXPECT_FREQ", m_strExpectFreq);
  WidenTextsToFit(*this);

  // The plot frame takes no focus (the four buttons are the only tab stops): a panel would
  // take it while it has no children, unless it is disabled. Disabled windows are painted all
  // the same.
  m_pPlot = XRCCTRL(*this, "IDC_PLOT", wxPanel);
  m_pPlot->Disable();
  m_pPlot->Bind(wxEVT_PAINT, &CNotePatternDlg::OnPaint, this);

  Bind(wxEVT_BUTTON, &CNotePatternDlg::OnNext, this, XRCID("IDC_NEXT"));
  Bind(wxEVT_BUTTON, &CNotePatternDlg::OnReplay, this, XRCID("IDC_REPLAY"));
  Bind(wxEVT_BUTTON, &CNotePatternDlg::OnDone, this, XRCID("IDC_DONE"));
  Bind(wxEVT_BUTTON, &CNotePatternDlg::OnBack, this, XRCID("IDC_BACK"));
  EndWithCancelOnEscape(*this);

  XRCCTRL(*this, "IDC_NEXT", wxButton)->SetFocus();
  CentreOverMainWindow(*this);
}

void CNotePatternDlg::End(NoteChoice choice) {
  m_choice = choice;
  EndModal(wxID_OK);
}

void CNotePatternDlg::OnNext(wxCommandEvent& /*event*/) { End(NoteChoice::Next); }
void CNotePatternDlg::OnReplay(wxCommandEvent& /*event*/) { End(NoteChoice::Replay); }
void CNotePatternDlg::OnDone(wxCommandEvent& /*event*/) { End(NoteChoice::Done); }
void CNotePatternDlg::OnBack(wxCommandEvent& /*event*/) { End(NoteChoice::Back); }

void CNotePatternDlg::OnPaint(wxPaintEvent& /*event*/) {
  wxPaintDC dc(m_pPlot);
  dc.SetTextBackground(wxColour(192, 192, 192));
  // The frame is grey, as its resource describes it, so that the white marks show beside the
  // black and cyan lines (the theme's window colour is near-white).
  dc.SetPen(*wxTRANSPARENT_PEN);
  dc.SetBrush(wxBrush(wxColour(192, 192, 192)));
  dc.DrawRectangle(wxPoint(0, 0), m_pPlot->GetClientSize());

  // The plot is laid out in 0.1 mm with y up, from the frame's top-left corner. Its frame of
  // 473 dialog units spans 1877 such units on a 96-dpi screen with the 8-point dialog font
  // (1.5 pixels of 0.2646 mm per dialog unit); scaling the units to the frame as the desktop's
  // dialog units make it keeps the plot filling the frame in that proportion, whatever the
  // font and resolution, with crisp one-pixel lines.
  constexpr double kFrameWidthUnits = 1877.0;
  const double dScale = ConvertDialogToPixels(wxSize(473, 0)).x / kFrameWidthUnits;
  const auto px = [dScale](int nX) { return static_cast<wxCoord>(std::lround(nX * dScale)); };
  const auto py = [dScale](int nY) { return static_cast<wxCoord>(std::lround(-nY * dScale)); };

  std::vector<PlotLine> lines;
  {
    // The history takes no sound while the dialog is open; the lock keeps a reset out.
    const std::lock_guard<std::mutex> lock(HistoryMutex());
    lines = ComputeNotePlot(g_nPlotStart, g_nPlotSegEnd, g_nPlotEnd, g_szPlotMode, g_fSampleRing);
  }
  for (const PlotLine& line : lines) {
    dc.SetPen(PenFor(line.pen));
    dc.DrawLine(px(line.nX1), py(line.nY1), px(line.nX2), py(line.nY2));
  }
  dc.SetPen(wxNullPen);
}
