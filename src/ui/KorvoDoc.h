// The document: holds no data (the patterns live in the shared store and are written by
// the pattern files), so New, Open and closing never ask to save.
#pragma once

#include <wx/docview.h>

class CKorvoDoc : public wxDocument {
 public:
  CKorvoDoc() = default;
  bool OnNewDocument() override { return wxDocument::OnNewDocument(); }
  bool IsModified() const override { return false; }
  // A new document is "Untitled"; the frame shows "Untitled - korvo".
  wxString GetUserReadableName() const override { return "Untitled"; }

 private:
  wxDECLARE_DYNAMIC_CLASS(CKorvoDoc);
};
