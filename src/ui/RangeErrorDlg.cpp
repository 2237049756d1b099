#include "ui/RangeErrorDlg.h"

#include <wx/textctrl.h>
#include <wx/xrc/xmlres.h>

#include "training/NoteTables.h"
#include "training/RangeValidation.h"
#include "ui/DialogSupport.h"

CRangeErrorDlg::CRangeErrorDlg(wxWindow* pParent) {
  wxXmlResource::Get()->LoadDialog(this, pParent, "RangeErrorDlg");
  XRCCTRL(*this, "IDC_HELP_TEXT", wxTextCtrl)
      ->ChangeValue(CoreText(RangeErrorHelpText(g_nRunState).c_str()));
  EndWithCancelOnEscape(*this);
  CentreOverMainWindow(*this);
}
