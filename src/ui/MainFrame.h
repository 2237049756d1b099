// The main window: a narrow strip at (100, 10), 130 x 682 pixels, with menu, accelerators,
// toolbar and status bar; its client area is the log view. Its start-up runs the range and
// caution dialogs before it is first shown.
#pragma once

#include <wx/docview.h>
#include <wx/weakref.h>

#include "capture/ListeningSession.h"

class CKorvoView;
class CRecognitionFrame;

class CMainFrame : public wxDocParentFrame {
 public:
  CMainFrame(wxDocManager* pManager, const wxString& title);

  // The document and its view (whose constructor empties the log) from the manager's one
  // template, without showing the window; nullptr when either cannot be made. The frame must be
  // the application's top window.
  CKorvoView* CreateDocumentAndView();

  // The range dialog until a valid range is chosen (the error dialog after every rejected
  // attempt), then the caution dialog until it is acknowledged.
  void RunStartDialogs();

  // Where File > Recognise Notes listens: the training run's own input.
  void SetListeningInput(ListeningInput input) { m_listeningInput = std::move(input); }

 private:
  void CreateMenus();
  void CreateToolAndStatusBars();
  void FitLogLines();
  void OnAbout(wxCommandEvent& event);
  void OnToggleToolBar(wxCommandEvent& event);
  void OnToggleStatusBar(wxCommandEvent& event);
  // File > Recognise Notes: the recognition window, with the patterns of this run once it has
  // finished (when the user wants them), else with a pattern file the user chooses.
  void OnRecognise(wxCommandEvent& event);

  ListeningInput m_listeningInput;
  wxWeakRef<CRecognitionFrame> m_pRecognition;  // the one recognition window, while it is open
};
