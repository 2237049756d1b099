// The About box: the application icon, "Sonavel Version 1.0" and OK. It changes no state.
#pragma once

#include <wx/dialog.h>

class CAboutDlg : public wxDialog {
 public:
  explicit CAboutDlg(wxWindow* pParent);
};
