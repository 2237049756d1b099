// The main window, its document and its log view under a real display (Xvfb), built as the
// program builds them.
#include <gtest/gtest.h>
#include <wx/app.h>
#include <wx/docview.h>
#include <wx/filefn.h>
#include <wx/filename.h>
#include <wx/statusbr.h>
#include <wx/timer.h>
#include <wx/toolbar.h>

#include <cstring>
#include <vector>

#include "support/CoreTestSupport.h"
#include "ui/KorvoDoc.h"
#include "ui/KorvoView.h"
#include "ui/MainFrame.h"

namespace {

class MainFrameTest : public testing::Test {
 protected:
  void SetUp() override {
    ResetCoreForTest();
    wxTheApp->SetAppName("korvo");
    m_pManager = new wxDocManager;
    new wxDocTemplate(m_pManager, "Korvo Document", "", "", "", "Korvo.Document", "Korvo View",
                      wxCLASSINFO(CKorvoDoc), wxCLASSINFO(CKorvoView));
    m_pFrame = new CMainFrame(m_pManager, "korvo");
    wxTheApp->SetTopWindow(m_pFrame);
    m_pView = m_pFrame->CreateDocumentAndView();
    ASSERT_NE(m_pView, nullptr);
    m_pView->OnInitialUpdate();
  }

  void TearDown() override {
    m_pManager->Clear(true);
    m_pFrame->Destroy();
    wxTheApp->ProcessIdle();  // deletes the frame
    delete m_pManager;
  }

  wxDocManager* m_pManager = nullptr;
  CMainFrame* m_pFrame = nullptr;
  CKorvoView* m_pView = nullptr;
};

TEST_F(MainFrameTest, NewAndOpenKeepTheRunAndTheLogFitsTheWindow) {
  m_pFrame->Show();
  wxYield();
  EXPECT_EQ(m_pView->Canvas()->GetClientSize().y, kLogFontHeight * kLogVisible);

  CopyText(g_szLog[2], "C1-OK-");
  CopyText(g_szLog[3], "C1#");
  const std::vector<char> log(&g_szLog[0][0], &g_szLog[0][0] + sizeof g_szLog);
  wxCommandEvent command(wxEVT_MENU, wxID_NEW);
  m_pFrame->ProcessWindowEvent(command);
  ASSERT_EQ(m_pManager->GetDocumentsVector().size(), 1U);
  const wxViewVector views = m_pManager->GetDocumentsVector()[0]->GetViewsVector();
  ASSERT_EQ(views.size(), 1U);
  EXPECT_EQ(views[0], m_pView);
  EXPECT_EQ(std::memcmp(log.data(), g_szLog, log.size()), 0);
  EXPECT_EQ(m_pFrame->GetTitle(), "Untitled - korvo");

  // Open, once the file is chosen: the name, the recent files, and Save stays available.
  const wxFileName file(wxFileName::CreateTempFileName("violin"));
  ASSERT_TRUE(m_pView->GetDocument()->OnOpenDocument(file.GetFullPath()));
  wxRemoveFile(file.GetFullPath());
  EXPECT_EQ(m_pFrame->GetTitle(), file.GetFullName() + " - korvo");
  EXPECT_EQ(m_pManager->GetHistoryFilesCount(), 1U);
  m_pFrame->UpdateWindowUI(wxUPDATE_UI_RECURSE);
  EXPECT_TRUE(m_pFrame->GetToolBar()->GetToolEnabled(wxID_SAVE));
  EXPECT_EQ(std::memcmp(log.data(), g_szLog, log.size()), 0);
}

TEST_F(MainFrameTest, TheStatusBarSaysWhenTheRecordingHasEnded) {
  bool bEnded = false;
  m_pView->WatchRecordingEnd([&bEnded] { return bEnded; });
  wxTimer timer(m_pView, kTimerId);
  wxTimerEvent tick(timer);
  m_pView->ProcessEvent(tick);
  EXPECT_EQ(m_pFrame->GetStatusBar()->GetStatusText(0), "Ready");
  bEnded = true;
  m_pView->ProcessEvent(tick);
  EXPECT_EQ(m_pFrame->GetStatusBar()->GetStatusText(0), "Recording ended");
  EXPECT_EQ(m_pFrame->GetStatusBar()->GetFieldsCount(), 1);  // readable at the narrow width
}

}  // namespace
