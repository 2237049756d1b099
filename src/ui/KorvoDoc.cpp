#include "ui/KorvoDoc.h"

#include <wx/filename.h>

wxIMPLEMENT_DYNAMIC_CLASS(CKorvoDoc, wxDocument);

bool CKorvoDoc::OnNewDocument() {
  if (!wxDocument::OnNewDocument()) {
    return false;
  }
  SetTitle("Untitled");
  OnChangeFilename(true);
  return true;
}

bool CKorvoDoc::OnOpenDocument(const wxString& path) {
  if (!wxDocument::OnOpenDocument(path)) {
    return false;
  }
  SetTitle(wxFileName(path).GetFullName());
  OnChangeFilename(true);
  if (wxDocManager* pManager = GetDocumentManager()) {
    pManager->AddFileToHistory(path);
  }
  return true;
}
