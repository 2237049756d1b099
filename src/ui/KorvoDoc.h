// The document: holds no data (the patterns live in the shared store and are written by
// the pattern files), so New, Open and closing never ask to save. New and Open reuse this
// one document: they change its name and nothing else.
#pragma once

#include <wx/docview.h>

class CKorvoDoc : public wxDocument {
 public:
  CKorvoDoc() = default;
  // A new document is "Untitled"; the frame shows "Untitled - korvo".
  bool OnNewDocument() override;
  // Reads nothing from the file: it gives the document its name and a place in the recent
  // files.
  bool OnOpenDocument(const wxString& path) override;
  bool IsModified() const override { return false; }

 private:
  wxDECLARE_DYNAMIC_CLASS(CKorvoDoc);
};
