// The caution dialog ("Caution!") shown once a range is accepted. "Continue  >" lets the
// training start; Escape and the close box end it without that, so the frame shows it again.
#pragma once

#include <wx/dialog.h>

class CCautionDlg : public wxDialog {
 public:
  explicit CCautionDlg(wxWindow* pParent);

  void OnOK(wxCommandEvent& event);
};
