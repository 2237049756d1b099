// The main window: a narrow strip at (100, 10), 130 x 682 pixels, with menu, accelerators,
// toolbar and status bar; its client area is the log view. Its start-up runs the range and
// caution dialogs before it is first shown.
#pragma once

#include <wx/docview.h>

class CMainFrame : public wxDocParentFrame {
 public:
  CMainFrame(wxDocManager* pManager, const wxString& title);

  // The range dialog until a valid range is chosen (the error dialog after every rejected
  // attempt), then the caution dialog until it is acknowledged.
  void RunStartDialogs();

 private:
  void CreateMenus();
  void CreateToolAndStatusBars();
  void OnAbout(wxCommandEvent& event);
  void OnToggleToolBar(wxCommandEvent& event);
  void OnToggleStatusBar(wxCommandEvent& event);
};
