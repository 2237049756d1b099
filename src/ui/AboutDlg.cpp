#include "ui/AboutDlg.h"

#include <wx/xrc/xmlres.h>

#include "ui/DialogSupport.h"

CAboutDlg::CAboutDlg(wxWindow* pParent) {
  wxXmlResource::Get()->LoadDialog(this, pParent, "AboutDlg");
  WidenTextsToFit(*this);
  CentreOverMainWindow(*this);
}
