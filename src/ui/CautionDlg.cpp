#include "ui/CautionDlg.h"

#include <wx/statbmp.h>
#include <wx/xrc/xmlres.h>

#include "training/RangeValidation.h"
#include "ui/DialogSupport.h"

CCautionDlg::CCautionDlg(wxWindow* pParent) {
  wxXmlResource::Get()->LoadDialog(this, pParent, "CautionDlg");
  // The resource's size is converted to pixels before its larger font is applied; the
  // controls are converted with that font, so the dialog is sized again to match them.
  SetClientSize(ConvertDialogToPixels(wxSize(189, 134)));
  // The picture keeps its own size, in the middle of its sunken frame.
  XRCCTRL(*this, "IDC_CAUTION_PICTURE", wxStaticBitmap)
      ->SetSize(ConvertDialogToPixels(wxSize(158, 97)));
  Bind(wxEVT_BUTTON, &CCautionDlg::OnOK, this, wxID_OK);
  EndWithCancelOnEscape(*this);
  CentreOverMainWindow(*this);
}

void CCautionDlg::OnOK(wxCommandEvent& /*event*/) {
  AcknowledgeCaution();
  EndModal(wxID_OK);
}
