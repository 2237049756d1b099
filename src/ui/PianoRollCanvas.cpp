#include "ui/PianoRollCanvas.h"

#include <wx/dcbuffer.h>
#include <wx/settings.h>

#include <algorithm>
#include <cmath>

#include "training/NoteTables.h"
#include "ui/DialogSupport.h"

namespace {

constexpr double kLowestScore = 0.35;  // the recogniser names no note below this cosine

bool IsSharp(std::int32_t nNote) {
  const std::int32_t nStep = nNote % 12;
  return nStep == 1 || nStep == 3 || nStep == 6 || nStep == 8 || nStep == 10;
}

// Pale for a barely recognised note, dark blue for a sure one.
wxColour ScoreColour(double dScore) {
  const double t = std::clamp((dScore - kLowestScore) / (1.0 - kLowestScore), 0.0, 1.0);
  const auto mix = [t](int nPale, int nDark) {
    return static_cast<unsigned char>(std::lround(nPale + t * (nDark - nPale)));
  };
  return {mix(196, 16), mix(212, 58), mix(240, 150)};
}

}  // namespace

CPianoRollCanvas::CPianoRollCanvas(wxWindow* pParent, const std::vector<ShownNote>& notes)
    : wxWindow(pParent, wxID_ANY, wxDefaultPosition, wxSize(-1, 240),
               wxFULL_REPAINT_ON_RESIZE | wxBORDER_THEME, "pianoRoll"),
      m_notes(notes) {
  SetBackgroundStyle(wxBG_STYLE_PAINT);  // everything is drawn in OnPaint: no flicker
  SetMinSize(wxSize(320, 160));
  Bind(wxEVT_PAINT, &CPianoRollCanvas::OnPaint, this);
}

void CPianoRollCanvas::SetRows(std::vector<std::int32_t> rows) {
  m_rows = std::move(rows);
  Refresh();
}

void CPianoRollCanvas::SetNow(double dSeconds) {
  m_dNow = dSeconds;
  Refresh();
}

void CPianoRollCanvas::OnPaint(wxPaintEvent& /*event*/) {
  wxAutoBufferedPaintDC dc(this);
  const wxSize size = GetClientSize();
  const wxColour background = wxSystemSettings::GetColour(wxSYS_COLOUR_WINDOW);
  const wxColour text = wxSystemSettings::GetColour(wxSYS_COLOUR_WINDOWTEXT);
  const wxColour grid = wxColour(0xD8, 0xD8, 0xD8);
  dc.SetBackground(wxBrush(background));
  dc.Clear();
  dc.SetFont(GetFont());
  dc.SetTextForeground(text);
  if (m_rows.empty()) {
    const wxString hint = "Open a pattern file to see its notes here";
    const wxSize extent = dc.GetTextExtent(hint);
    dc.DrawText(hint, (size.x - extent.x) / 2, (size.y - extent.y) / 2);
    return;
  }

  const int nTextHeight = dc.GetCharHeight();
  const int nRollHeight = std::max(1, size.y - nTextHeight - 6);  // the seconds below
  const double dRowHeight = static_cast<double>(nRollHeight) / static_cast<double>(m_rows.size());
  const int nRowHeight = std::max(1, static_cast<int>(std::lround(dRowHeight)));
  // The notes' names in a font no taller than a row, down to 7 points.
  wxFont labelFont = GetFont();
  dc.SetFont(labelFont);
  while (dc.GetCharHeight() > nRowHeight + 2 && labelFont.GetPointSize() > 7) {
    labelFont.SetPointSize(labelFont.GetPointSize() - 1);
    dc.SetFont(labelFont);
  }
  const int nLabelHeight = dc.GetCharHeight();
  int nLabelWidth = 0;
  for (const std::int32_t nNote : m_rows) {
    nLabelWidth = std::max(nLabelWidth, dc.GetTextExtent(CoreText(g_szNoteName[nNote])).x);
  }
  const int nLeft = nLabelWidth + 12;
  const int nWidth = std::max(1, size.x - nLeft - 4);
  const double dStart = m_dNow - kRollSeconds;
  const auto xAt = [&](double dSeconds) {
    return nLeft + static_cast<int>(std::lround((dSeconds - dStart) / kRollSeconds * nWidth));
  };
  const auto rowTop = [&](std::size_t nRow) {
    return static_cast<int>(
        std::lround(static_cast<double>(m_rows.size() - 1 - nRow) * dRowHeight));
  };

  // Rows, and their names from the lowest up, each where it finds room above the one before.
  dc.SetPen(*wxTRANSPARENT_PEN);
  int nFreeBelow = nRollHeight;  // the top of the lowest name drawn
  for (std::size_t nRow = 0; nRow < m_rows.size(); ++nRow) {
    const std::int32_t nNote = m_rows[nRow];
    if (IsSharp(nNote)) {
      dc.SetBrush(wxBrush(wxColour(0xEC, 0xEC, 0xEC)));
      dc.DrawRectangle(nLeft, rowTop(nRow), nWidth, nRowHeight);
    }
    const int nY = std::max(0, rowTop(nRow) + (nRowHeight - nLabelHeight) / 2);
    if (nY + nLabelHeight <= nFreeBelow) {
      dc.DrawText(CoreText(g_szNoteName[nNote]), 6, nY);
      nFreeBelow = nY;
    }
  }
  dc.SetFont(GetFont());

  // A line and a label at every whole second.
  dc.SetPen(wxPen(grid));
  const auto nFirstSecond = static_cast<long>(std::ceil(std::max(dStart, 0.0)));
  for (long nSecond = nFirstSecond; static_cast<double>(nSecond) <= m_dNow; ++nSecond) {
    const int nX = xAt(static_cast<double>(nSecond));
    dc.DrawLine(nX, 0, nX, nRollHeight);
    const wxString label = wxString::Format("%ld s", nSecond);
    const int nLabelX = nX - dc.GetTextExtent(label).x / 2;
    if (nLabelX > nLeft && nLabelX + dc.GetTextExtent(label).x < size.x) {
      dc.DrawText(label, nLabelX, nRollHeight + 3);
    }
  }
  dc.DrawLine(nLeft - 1, 0, nLeft - 1, nRollHeight);
  dc.DrawLine(nLeft - 1, nRollHeight, size.x, nRollHeight);

  // The notes, newest first, until one ended before the left edge (they come in time order).
  dc.SetPen(*wxTRANSPARENT_PEN);
  for (auto it = m_notes.rbegin(); it != m_notes.rend(); ++it) {
    const double dEnd = it->bOpen ? m_dNow : it->note.dOffset;
    if (dEnd < dStart) {
      break;
    }
    const auto row = std::lower_bound(m_rows.begin(), m_rows.end(), it->note.nNote);
    if (row == m_rows.end() || *row != it->note.nNote) {
      continue;
    }
    const int nX0 = std::max(nLeft, xAt(it->note.dOnset));
    const int nX1 = std::min(nLeft + nWidth, xAt(dEnd));
    const int nInset = std::max(1, nRowHeight / 6);  // neighbouring rows' bars stay apart
    dc.SetBrush(wxBrush(ScoreColour(it->note.dScore)));
    dc.DrawRectangle(nX0, rowTop(static_cast<std::size_t>(row - m_rows.begin())) + nInset,
                     std::max(2, nX1 - nX0), std::max(1, nRowHeight - 2 * nInset));
  }
}
