#include "ui/KorvoView.h"

#include <wx/app.h>
#include <wx/dcclient.h>
#include <wx/filedlg.h>
#include <wx/filename.h>
#include <wx/frame.h>
#include <wx/msgdlg.h>
#include <wx/settings.h>
#include <wx/statusbr.h>
#include <wx/toplevel.h>

#include <filesystem>
#include <string>

#include "files/PatternFiles.h"
#include "training/NoteTables.h"
#include "training/TrainingController.h"
#include "ui/DialogSupport.h"

wxIMPLEMENT_DYNAMIC_CLASS(CKorvoView, wxView);

CLogCanvas::CLogCanvas(CKorvoView* pView, wxWindow* pParent)
    : wxScrolledWindow(pParent, wxID_ANY), m_pView(pView) {
  SetBackgroundColour(wxSystemSettings::GetColour(wxSYS_COLOUR_WINDOW));
}

void CLogCanvas::OnDraw(wxDC& dc) { m_pView->OnDraw(&dc); }

CKorvoView::CKorvoView() : m_timer(this, kTimerId) {
  ResetLog();
  Bind(wxEVT_TIMER, &CKorvoView::OnTimer, this, kTimerId);
  // The active view sees the frame's commands before the document manager, so Save from the
  // menu, Ctrl+S and the toolbar come here, not to the document.
  Bind(wxEVT_MENU, &CKorvoView::OnFileSave, this, wxID_SAVE);
  // Save is always there: the document manager would disable it once a file was opened.
  Bind(
      wxEVT_UPDATE_UI, [](wxUpdateUIEvent& event) { event.Enable(true); }, wxID_SAVE);
  // Handled here, before the document manager would make a second document and view.
  Bind(wxEVT_MENU, &CKorvoView::OnFileNew, this, wxID_NEW);
  Bind(wxEVT_MENU, &CKorvoView::OnFileOpen, this, wxID_OPEN);
}

CKorvoView::~CKorvoView() { m_timer.Stop(); }

bool CKorvoView::OnCreate(wxDocument* pDoc, long nFlags) {
  if (!wxView::OnCreate(pDoc, nFlags)) {
    return false;
  }
  wxFrame* pFrame = wxDynamicCast(wxTheApp->GetTopWindow(), wxFrame);
  if (pFrame == nullptr) {
    return false;
  }
  SetFrame(pFrame);
  m_pCanvas = new CLogCanvas(this, pFrame);
  return true;
}

bool CKorvoView::OnClose(bool bDeleteWindow) {
  m_timer.Stop();
  if (bDeleteWindow && m_pCanvas != nullptr) {
    m_pCanvas->Destroy();
    m_pCanvas = nullptr;
  }
  return wxView::OnClose(bDeleteWindow);
}

void CKorvoView::OnChangeFilename() {
  if (GetFrame() != nullptr && GetDocument() != nullptr) {
    if (auto* pFrame = wxDynamicCast(GetFrame(), wxTopLevelWindow)) {
      pFrame->SetTitle(GetDocument()->GetUserReadableName() + " - " + wxTheApp->GetAppName());
    }
  }
}

void CKorvoView::OnInitialUpdate() {
  m_pCanvas->SetVirtualSize(100, 100);
  if (!m_timer.Start(kTimerPeriodMs)) {
    wxMessageBox("Not enough timers available for this window.", "Sound Test ",
                 wxOK | wxICON_EXCLAMATION, m_pCanvas);
  }
}

void CKorvoView::OnDraw(wxDC* pDC) {
  const wxFont font(wxSize(0, kLogFontHeight), wxFONTFAMILY_ROMAN, wxFONTSTYLE_NORMAL,
                    wxFONTWEIGHT_NORMAL, false, "Times New Roman");
  const wxFont previous = pDC->GetFont();
  pDC->SetFont(font);
  m_nTextY = 0;
  m_nTextX = 0;
  for (int i = 0; i < kLogVisible; ++i) {
    const char* pszLine = g_szLog[(g_nLogTop + i) % kLogLines];
    pDC->DrawText(CoreText(pszLine), m_nTextX, m_nTextY);
    m_nTextY += kLogFontHeight;
    m_nTextX = 0;
  }
  if (m_pCanvas != nullptr) {
    // A fixed picture of 34 lines: the scroll bars only move it when the window is smaller.
    m_pCanvas->SetVirtualSize(100, kLogFontHeight * kLogVisible);
    m_pCanvas->SetScrollRate(0, kLogFontHeight);
  }
  pDC->SetFont(previous.IsOk() ? previous : wxNullFont);
}

void CKorvoView::RedrawLog() {
  if (m_pCanvas != nullptr) {
    m_pCanvas->Refresh(true);
  }
}

void CKorvoView::OnTimer(wxTimerEvent& /*event*/) {
  // Before the controller's pass, which may hold this tick in a note dialog.
  if (m_hasRecordingEnded && m_hasRecordingEnded()) {
    m_hasRecordingEnded = nullptr;
    auto* pFrame = wxDynamicCast(GetFrame(), wxFrame);
    if (wxStatusBar* pStatus = pFrame != nullptr ? pFrame->GetStatusBar() : nullptr) {
      // At the window's narrow width the key panes and the size grip leave the message pane
      // a few pixels: the message takes the whole bar, a size smaller, so it can be read.
      pStatus->SetFieldsCount(1);
      pStatus->SetWindowStyleFlag(pStatus->GetWindowStyleFlag() & ~wxSTB_SIZEGRIP);
      pStatus->SetFont(pStatus->GetFont().Smaller());
      pStatus->Refresh();
      pStatus->SetStatusText("Recording ended");
    }
  }
  TrainingTimerPass();
}

void CKorvoView::OnFileNew(wxCommandEvent& /*event*/) {
  if (GetDocument()->OnNewDocument()) {
    OnInitialUpdate();
  }
}

void CKorvoView::OnFileOpen(wxCommandEvent& /*event*/) {
  // GTK would start in the folder it showed last; the process's folder is where files go.
  wxFileDialog dialog(nullptr, "Open", wxGetCwd(), wxEmptyString, "All Files (*.*)|*.*",
                      wxFD_OPEN | wxFD_FILE_MUST_EXIST);
  if (dialog.ShowModal() == wxID_OK && GetDocument()->OnOpenDocument(dialog.GetPath())) {
    OnInitialUpdate();
  }
}

void CKorvoView::OnFileSave(wxCommandEvent& /*event*/) {
  // The file written is the chosen name with ".dat" for its extension, which is not always
  // the name the dialog would ask about, so the question about replacing a file is asked
  // here, about the file that will be written.
  wxFileDialog dialog(nullptr, wxFileSelectorPromptStr, wxGetCwd(), wxEmptyString,
                      "Pattern Files (*.dat)|*.dat", wxFD_SAVE | wxFD_CHANGE_DIR);
  std::string chosen;
  for (;;) {
    if (dialog.ShowModal() != wxID_OK) {
      return;
    }
    chosen = std::string(dialog.GetPath().utf8_str());
    const std::filesystem::path target = UserPatternFilePath(chosen);
    std::error_code error;
    if (target.empty() || !std::filesystem::exists(target, error)) {
      break;
    }
    const wxString question =
        CoreText(target.filename().c_str()) + " already exists.\nDo you want to replace it?";
    if (wxMessageBox(question, "Confirm Save As", wxYES_NO | wxICON_EXCLAMATION, m_pCanvas) ==
        wxYES) {
      break;
    }
  }
  std::string error;
  if (!SaveUserPatternFile(chosen, &error)) {
    wxMessageBox(CoreText(error.c_str()), "korvo", wxOK | wxICON_ERROR, m_pCanvas);
  }
}
