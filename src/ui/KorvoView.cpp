#include "ui/KorvoView.h"

#include <wx/app.h>
#include <wx/dcclient.h>
#include <wx/filedlg.h>
#include <wx/filename.h>
#include <wx/msgdlg.h>
#include <wx/settings.h>
#include <wx/toplevel.h>

#include <string>

#include "files/PatternFiles.h"
#include "training/NoteTables.h"
#include "training/TrainingController.h"

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
    pDC->DrawText(wxString::FromUTF8(pszLine), m_nTextX, m_nTextY);
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

void CKorvoView::OnTimer(wxTimerEvent& /*event*/) { TrainingTimerPass(); }

void CKorvoView::OnFileSave(wxCommandEvent& /*event*/) {
  wxFileDialog dialog(nullptr, wxFileSelectorPromptStr, wxEmptyString, wxEmptyString,
                      "Pattern Files (*.dat)|*.dat",
                      wxFD_SAVE | wxFD_OVERWRITE_PROMPT | wxFD_CHANGE_DIR);
  if (dialog.ShowModal() != wxID_OK) {
    return;
  }
  const wxString path = dialog.GetPath();
  std::string error;
  if (!SaveUserPatternFile(std::string(path.utf8_str()), &error)) {
    wxMessageBox(wxString::FromUTF8(error), "korvo", wxOK | wxICON_ERROR, m_pCanvas);
  }
}
