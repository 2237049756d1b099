// The log view: draws 34 lines of the log ring from g_nLogTop in a serif font 17 pixels
// high, owns the 100 ms timer whose handler is the training controller, and handles
// File > Save. User-interface thread only.
#pragma once

#include <wx/docview.h>
#include <wx/scrolwin.h>
#include <wx/timer.h>

#include <functional>

class CKorvoView;

// The window the log is drawn in.
class CLogCanvas : public wxScrolledWindow {
 public:
  CLogCanvas(CKorvoView* pView, wxWindow* pParent);
  void OnDraw(wxDC& dc) override;

 private:
  CKorvoView* m_pView;
};

class CKorvoView : public wxView {
 public:
  CKorvoView();
  ~CKorvoView() override;

  bool OnCreate(wxDocument* pDoc, long nFlags) override;
  bool OnClose(bool bDeleteWindow) override;
  void OnDraw(wxDC* pDC) override;
  // The frame's caption: the document's name and the application's.
  void OnChangeFilename() override;

  // Scroll sizes and the timer; once the frame's start-up dialogs are done.
  void OnInitialUpdate();

  // Redraws the whole log (erasing first).
  void RedrawLog();

  // File > Save: asks for a file and writes the patterns trained so far.
  void OnFileSave(wxCommandEvent& event);
  // New (Ctrl+N) and Open (Ctrl+O) keep this frame, document and view and the run: the
  // document gets its new name, the timer starts again; the log stays as it is.
  void OnFileNew(wxCommandEvent& event);
  void OnFileOpen(wxCommandEvent& event);

  // Asked at every timer tick until it answers true; then the status bar says "Recording
  // ended". For an input that can run out (a sound file).
  void WatchRecordingEnd(std::function<bool()> hasEnded) {
    m_hasRecordingEnded = std::move(hasEnded);
  }

  wxWindow* Canvas() const { return m_pCanvas; }

 private:
  void OnTimer(wxTimerEvent& event);

  CLogCanvas* m_pCanvas = nullptr;
  wxTimer m_timer;
  std::function<bool()> m_hasRecordingEnded;
  int m_nTextY = 0;  // y of the next line OnDraw writes
  int m_nTextX = 0;  // x of that line; always 0

  wxDECLARE_DYNAMIC_CLASS(CKorvoView);
};

inline constexpr int kLogFontHeight = 17;  // pixels per log line
inline constexpr int kTimerId = 1;
inline constexpr int kTimerPeriodMs = 100;
