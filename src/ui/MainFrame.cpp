#include "ui/MainFrame.h"

#include <wx/accel.h>
#include <wx/artprov.h>
#include <wx/menu.h>
#include <wx/msgdlg.h>
#include <wx/statusbr.h>
#include <wx/toolbar.h>
#include <wx/xrc/xmlres.h>

#include <algorithm>
#include <vector>

#include "training/NoteTables.h"
#include "ui/AboutDlg.h"
#include "ui/CautionDlg.h"
#include "ui/KorvoView.h"
#include "ui/RangeErrorDlg.h"
#include "ui/RecognitionFrame.h"
#include "ui/TuneRangeDlg.h"

namespace {

constexpr int kStatusPanes = 4;
constexpr int ID_VIEW_TOOLBAR = wxID_HIGHEST + 1;     // View > Toolbar
constexpr int ID_VIEW_STATUS_BAR = wxID_HIGHEST + 2;  // View > Status Bar
constexpr int ID_RECOGNISE = wxID_HIGHEST + 3;        // File > Recognise Notes

}  // namespace

CMainFrame::CMainFrame(wxDocManager* pManager, const wxString& title)
    : wxDocParentFrame(pManager, nullptr, wxID_ANY, title, wxPoint(100, 10), wxSize(130, 682)) {
  SetIcon(wxXmlResource::Get()->LoadIcon("SonavelIcon"));
  CreateMenus();
  CreateToolAndStatusBars();
  FitLogLines();
#ifdef __WXGTK__
  // wx would hold the first showing back until the window manager tells the size of its
  // decorations, realizing the window unmapped meanwhile; window managers then ignore the
  // window's position, and the window opens in a corner instead of at (100, 10).
  m_deferShow = false;
#endif
  Bind(wxEVT_MENU, &CMainFrame::OnAbout, this, wxID_ABOUT);
  Bind(wxEVT_MENU, &CMainFrame::OnToggleToolBar, this, ID_VIEW_TOOLBAR);
  Bind(wxEVT_MENU, &CMainFrame::OnToggleStatusBar, this, ID_VIEW_STATUS_BAR);
  Bind(wxEVT_MENU, &CMainFrame::OnRecognise, this, ID_RECOGNISE);
}

void CMainFrame::CreateMenus() {
  auto* pFile = new wxMenu;
  pFile->Append(wxID_SAVE, "&Save\tCtrl+S", "Save the active document");
  pFile->Append(ID_RECOGNISE, L"&Recognise Notes\u2026",
                "Recognise the notes played, with trained patterns");
  pFile->Append(wxID_EXIT, "E&xit", "Quit the application; prompts to save documents");
  auto* pView = new wxMenu;
  pView->AppendCheckItem(ID_VIEW_TOOLBAR, "&Toolbar", "Show or hide the toolbar");
  pView->AppendCheckItem(ID_VIEW_STATUS_BAR, "&Status Bar", "Show or hide the status bar");
  pView->Check(ID_VIEW_TOOLBAR, true);
  pView->Check(ID_VIEW_STATUS_BAR, true);
  auto* pHelp = new wxMenu;
  pHelp->Append(wxID_ABOUT, "&About Sonavel...",
                "Display program information, version number and copyright");
  auto* pBar = new wxMenuBar;
  pBar->Append(pFile, "&File");
  pBar->Append(pView, "&View");
  pBar->Append(pHelp, "&Help");
  SetMenuBar(pBar);

  // The edit and pane keys have no handler in this program; they change nothing.
  const wxAcceleratorEntry entries[] = {
      {wxACCEL_CTRL, 'N', wxID_NEW},          {wxACCEL_CTRL, 'O', wxID_OPEN},
      {wxACCEL_CTRL, 'S', wxID_SAVE},         {wxACCEL_CTRL, 'P', wxID_PRINT},
      {wxACCEL_CTRL, 'Z', wxID_UNDO},         {wxACCEL_ALT, WXK_BACK, wxID_UNDO},
      {wxACCEL_CTRL, 'X', wxID_CUT},          {wxACCEL_SHIFT, WXK_DELETE, wxID_CUT},
      {wxACCEL_CTRL, 'C', wxID_COPY},         {wxACCEL_CTRL, WXK_INSERT, wxID_COPY},
      {wxACCEL_CTRL, 'V', wxID_PASTE},        {wxACCEL_SHIFT, WXK_INSERT, wxID_PASTE},
      {wxACCEL_NORMAL, WXK_F6, wxID_FORWARD}, {wxACCEL_SHIFT, WXK_F6, wxID_BACKWARD},
  };
  SetAcceleratorTable(wxAcceleratorTable(static_cast<int>(std::size(entries)), entries));
}

void CMainFrame::CreateToolAndStatusBars() {
  wxToolBar* pToolBar = CreateToolBar(wxTB_HORIZONTAL | wxTB_TOP, ID_VIEW_TOOLBAR);
  const wxSize size(16, 15);
  pToolBar->SetToolBitmapSize(size);
  pToolBar->AddTool(wxID_SAVE, "Save",
                    wxArtProvider::GetBitmap(wxART_FILE_SAVE, wxART_TOOLBAR, size), "Save",
                    wxITEM_NORMAL);
  pToolBar->SetToolLongHelp(wxID_SAVE, "Save the active document");
  pToolBar->AddSeparator();
  pToolBar->AddTool(wxID_ABOUT, "About", wxArtProvider::GetBitmap(wxART_HELP, wxART_TOOLBAR, size),
                    "About", wxITEM_NORMAL);
  pToolBar->SetToolLongHelp(wxID_ABOUT,
                            "Display program information, version number and copyright");
  pToolBar->Realize();

  wxStatusBar* pStatus = CreateStatusBar(kStatusPanes, wxSTB_DEFAULT_STYLE, ID_VIEW_STATUS_BAR);
  const int widths[kStatusPanes] = {-1, 30, 30, 34};
  pStatus->SetStatusWidths(kStatusPanes, widths);
  pStatus->SetStatusText("Ready", 0);
  pStatus->SetStatusText("CAP", 1);
  pStatus->SetStatusText("NUM", 2);
  pStatus->SetStatusText("SCRL", 3);
}

void CMainFrame::FitLogLines() {
  // GTK's menu, toolbar and status bar are taller than the original's: the window takes the
  // height, keeping its width, at which the log's 34 lines fit exactly between them.
  const int nMissing = kLogFontHeight * kLogVisible - GetClientSize().y;
  if (nMissing != 0) {
    SetSize(GetSize() + wxSize(0, nMissing));
  }
}

CKorvoView* CMainFrame::CreateDocumentAndView() {
  // The template itself, not the manager's CreateDocument, which would also raise, and so show,
  // the frame before the start dialogs.
  wxList& templates = GetDocumentManager()->GetTemplates();
  if (templates.empty()) {
    return nullptr;
  }
  auto* pTemplate = static_cast<wxDocTemplate*>(templates.GetFirst()->GetData());
  wxDocument* pDoc = pTemplate->CreateDocument(wxEmptyString, wxDOC_NEW);
  if (pDoc == nullptr) {
    return nullptr;
  }
  pDoc->SetDocumentName(pTemplate->GetDocumentName());
  auto* pView = wxDynamicCast(pDoc->GetFirstView(), CKorvoView);
  if (pView == nullptr || !pDoc->OnNewDocument()) {
    pDoc->DeleteAllViews();
    return nullptr;
  }
  pView->Activate(true);
  return pView;
}

void CMainFrame::RunStartDialogs() {
  while (g_nRunState != 2) {
    CTuneRangeDlg range(nullptr);
    range.ShowModal();
    if (g_nRunState != 2) {
      CRangeErrorDlg error(nullptr);
      error.ShowModal();
      g_nRunState = 0;
    }
  }
  while (g_nTrainState == -1) {
    CCautionDlg caution(nullptr);
    caution.ShowModal();
  }
}

void CMainFrame::OnAbout(wxCommandEvent& /*event*/) {
  CAboutDlg about(this);
  about.ShowModal();
}

void CMainFrame::OnToggleToolBar(wxCommandEvent& event) {
  if (wxToolBar* pToolBar = GetToolBar()) {
    pToolBar->Show(event.IsChecked());
    SendSizeEvent();
  }
}

void CMainFrame::OnToggleStatusBar(wxCommandEvent& event) {
  if (wxStatusBar* pStatus = GetStatusBar()) {
    pStatus->Show(event.IsChecked());
    SendSizeEvent();
  }
}

void CMainFrame::OnRecognise(wxCommandEvent& /*event*/) {
  if (m_pRecognition) {
    m_pRecognition->Raise();
    return;
  }
  // A copy: the recogniser never touches the run's own store.
  std::vector<NotePattern> trained(std::begin(g_fPattern), std::end(g_fPattern));
  const bool bAnyTrained = !CRecognizer::CandidateNotes(trained, 0, kNoteCount - 1).empty();
  int nAnswer = wxNO;
  if (g_nRunState == 3 && bAnyTrained) {  // the run has finished: its patterns are complete
    nAnswer = wxMessageBox(
        "Recognise notes with the patterns trained in this run?\n\n"
        "No: choose a pattern file instead.",
        "Recognise Notes", wxYES_NO | wxCANCEL | wxICON_QUESTION, this);
    if (nAnswer == wxCANCEL) {
      return;
    }
  }
  m_pRecognition = new CRecognitionFrame(this, m_listeningInput);
  m_pRecognition->Show();
  if (nAnswer == wxYES) {
    m_pRecognition->UsePatterns(std::move(trained), "patterns of this run");
  } else {
    m_pRecognition->ChoosePatterns();
  }
}
