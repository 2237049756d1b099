// The recognition window's scrolling piano roll: the last 10 seconds, time across with "now" at
// the right edge, one row per trained note (lowest at the bottom, named at the left, the rows
// of sharps shaded like a keyboard's black keys), each recognised note a bar from its onset to
// its offset (to "now" while it sounds), darker the higher its score. Drawn double-buffered
// in its paint handler. User-interface thread only.
#pragma once

#include <wx/window.h>

#include <cstdint>
#include <vector>

#include "recognition/Recognizer.h"

// A recognised note as the window keeps it.
struct ShownNote {
  RecognizedNote note;  // seconds on the window's time line
  bool bOpen = false;   // still sounding: its offset is not known yet
};

inline constexpr double kRollSeconds = 10.0;

class CPianoRollCanvas : public wxWindow {
 public:
  // `notes` belongs to the window and outlives the canvas.
  CPianoRollCanvas(wxWindow* pParent, const std::vector<ShownNote>& notes);

  // The rows: note indexes, lowest first.
  void SetRows(std::vector<std::int32_t> rows);
  // The time at the right edge, in seconds; redraws.
  void SetNow(double dSeconds);

 private:
  void OnPaint(wxPaintEvent& event);

  const std::vector<ShownNote>& m_notes;
  std::vector<std::int32_t> m_rows;
  double m_dNow = 0.0;
};
