// The error dialog ("Input Range Error!") shown after a rejected range: the help text for the
// state the attempt ended in (g_nRunState), in a read-only edit.
#pragma once

#include <wx/dialog.h>

class CRangeErrorDlg : public wxDialog {
 public:
  explicit CRangeErrorDlg(wxWindow* pParent);
};
