// The desktop program's windows under Xvfb; a hook records each modal dialog and answers it.
#include <gtest/gtest.h>
#include <wx/dcmemory.h>
#include <wx/dcsvg.h>
#include <wx/display.h>
#include <wx/filename.h>
#include <wx/listctrl.h>
#include <wx/modalhook.h>
#include <wx/msgdlg.h>
#include <wx/spinbutt.h>
#include <wx/statusbr.h>
#include <wx/textctrl.h>
#include <wx/toolbar.h>
#include <wx/xrc/xmlres.h>

#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <regex>
#include <thread>
#include <tuple>

#include "support/CoreTestSupport.h"
#include "support/HarmonicTones.h"
#include "support/SoundFiles.h"
#include "training/RangeValidation.h"
#include "ui/AboutDlg.h"
#include "ui/CautionDlg.h"
#include "ui/DialogSupport.h"
#include "ui/KorvoDoc.h"
#include "ui/KorvoView.h"
#include "ui/MainFrame.h"
#include "ui/NotePatternDlg.h"
#include "ui/RangeErrorDlg.h"
#include "ui/RecognitionFrame.h"
#include "ui/TuneRangeDlg.h"
#include "ui/WxFrontEnd.h"

namespace {

using Action = std::function<void(wxDialog&)>;
using Strings = std::vector<std::string>;

template <class T = wxWindow>
T* Ctrl(wxWindow& dlg, const char* pszName) {
  T* pCtrl = dynamic_cast<T*>(dlg.FindWindow(XRCID(pszName)));
  EXPECT_NE(pCtrl, nullptr) << pszName;
  return pCtrl;
}
std::string Value(wxWindow& dlg, const char* pszName) {
  return Ctrl<wxTextCtrl>(dlg, pszName)->GetValue().utf8_string();
}
std::string Label(wxWindow& dlg, const char* pszName) {
  return Ctrl(dlg, pszName)->GetLabel().utf8_string();
}
Action Click(const char* pszName) {
  return [pszName](wxDialog& dlg) {
    wxCommandEvent event(wxEVT_BUTTON, XRCID(pszName));
    event.SetEventObject(dlg.FindWindow(XRCID(pszName)));
    dlg.ProcessWindowEvent(event);
  };
}
void PressEscape(wxDialog& dlg) {
  wxKeyEvent event(wxEVT_CHAR_HOOK);
  event.m_keyCode = WXK_ESCAPE;
  event.SetEventObject(&dlg);
  dlg.ProcessWindowEvent(event);
}
Action HasSize(int w, int h) {
  return [=](wxDialog& d) { EXPECT_EQ(d.GetClientSize(), d.ConvertDialogToPixels(wxSize(w, h))); };
}
// Records each modal dialog (title or message, thread) and ends it with the next action queued
// for its title; message boxes are answered OK.
class CDialogScript : public wxModalDialogHook {
 public:
  CDialogScript() { Register(); }
  ~CDialogScript() override { Unregister(); }
  void Answer(const std::string& title, std::initializer_list<Action> actions) {
    m_actions[title].insert(m_actions[title].end(), actions);
  }
  Strings seen;
  std::vector<std::thread::id> threads;

 protected:
  int Enter(wxDialog* pDlg) override {
    threads.push_back(std::this_thread::get_id());
    if (auto* pBox = dynamic_cast<wxMessageDialogBase*>(pDlg)) {
      seen.push_back(pBox->GetMessage().utf8_string());
      return wxID_OK;
    }
    seen.push_back(pDlg->GetTitle().utf8_string());
    auto& queue = m_actions[seen.back()];
    if (queue.empty()) {
      ADD_FAILURE() << "unexpected dialog " << seen.back();
      return wxID_CANCEL;
    }
    pDlg->CallAfter([pDlg, action = queue.front()] { action(*pDlg); });
    queue.pop_front();
    return wxID_NONE;
  }
  void Exit(wxDialog*) override {}

 private:
  std::map<std::string, std::deque<Action>> m_actions;
};

class UiTest : public testing::Test {
 protected:
  void SetUp() override { ResetCoreForTest(), InitNoteFrequencies(), ResetLog(); }
  // The main window with its document and view, as the program builds them.
  CKorvoView* MakeMainWindow() {
    wxTheApp->SetAppName("korvo");
    m_pManager = std::make_unique<wxDocManager>();
    new wxDocTemplate(m_pManager.get(), "Korvo Document", "", "", "", "Korvo.Document",
                      "Korvo View", wxCLASSINFO(CKorvoDoc), wxCLASSINFO(CKorvoView));
    m_pFrame = new CMainFrame(m_pManager.get(), "korvo");
    wxTheApp->SetTopWindow(m_pFrame);
    return m_pFrame->CreateDocumentAndView();
  }
  void TearDown() override {
    if (m_pFrame == nullptr) return;
    m_pManager->Clear(true);
    m_pFrame->Destroy();
    wxTheApp->ProcessIdle();
  }
  CDialogScript m_script;
  std::unique_ptr<wxDocManager> m_pManager;
  CMainFrame* m_pFrame = nullptr;
};

TEST_F(UiTest, RangeSpinsStepOneNoteTypedNotesGoInAsCapitalsAndCoreTextsAreUtf8) {
  CTuneRangeDlg dlg(nullptr);
  auto* pFirst = Ctrl<wxSpinButton>(dlg, "IDC_FIRST_SPIN");
  auto* pLast = Ctrl<wxSpinButton>(dlg, "IDC_LAST_SPIN");
  EXPECT_EQ(std::tuple(pFirst->GetMin(), pFirst->GetMax(), pFirst->GetValue(), pLast->GetValue()),
            std::tuple(0, 107, 12, 72));
  // Each spin past the other end drags it along.
  for (const auto& [pSpin, nSteps, pszNote, nNote] :
       {std::tuple{pFirst, 61, "C6#", 73}, {pLast, -73, "C0", 0}}) {
    for (int k = 0; k < std::abs(nSteps); ++k) {  // as the control steps
      wxSpinEvent event(wxEVT_SPIN, pSpin->GetId());
      event.SetPosition(pSpin->GetValue() + (nSteps > 0 ? 1 : -1));
      pSpin->SetValue(event.GetPosition());
      pSpin->ProcessWindowEvent(event);
    }
    EXPECT_EQ(std::tuple(Value(dlg, "IDC_FIRST_NOTE"), Value(dlg, "IDC_LAST_NOTE"), g_nRangeFirst,
                         g_nRangeLast, pFirst->GetValue() + pLast->GetValue()),
              std::tuple(pszNote, pszNote, nNote, nNote, 2 * nNote));
  }
  wxSpinEvent past(wxEVT_SPIN, pLast->GetId());  // never reported by the control
  past.SetPosition(108);
  dlg.OnDeltaposLastSpin(past);
  EXPECT_EQ(g_nRangeLast, 107);
  for (const auto& [pszTyped, pszKept, nFirst] : {std::tuple{"e4x", "E4", 52}, {"H2", "H2", 52}}) {
    auto* pEdit = Ctrl<wxTextCtrl>(dlg, "IDC_FIRST_NOTE");  // looked up when it loses the focus
    pEdit->ChangeValue(pszTyped);
    wxFocusEvent event(wxEVT_KILL_FOCUS, pEdit->GetId());
    event.SetEventObject(pEdit);
    pEdit->ProcessWindowEvent(event);
    EXPECT_EQ(std::tuple(std::string(g_szFirstNoteText), g_nRangeFirst, pFirst->GetValue()),
              std::tuple(pszKept, nFirst, 52));
  }
  auto* pEdit = Ctrl<wxTextCtrl>(dlg, "IDC_LAST_NOTE");
  pEdit->Clear();
  pEdit->WriteText("c2#");
  pEdit->WriteText("x");  // at most three characters
  wxYield();
  EXPECT_EQ(std::tuple(Value(dlg, "IDC_LAST_NOTE"), pEdit->GetInsertionPoint(), g_nRunState),
            std::tuple("C2#", 3L, 0));  // only Ready decides
  for (const auto& [pszCore, shown] :
       {std::pair<const char*, std::wstring>{"C4\xC3\xA9", L"C4\u00E9"},
        {"C4\xC3", L"C4\uFFFD"},                                     // cut inside a character
        {"A\xFF\xE2\x82x", L"A\uFFFD\uFFFDx"},                       // one per broken sequence
        {"\xED\xA0\x80", L"\uFFFD\uFFFD\uFFFD"},                     // a surrogate
        {"\xC0\xAF\xF0\x9F\x8E\xB5", L"\uFFFD\uFFFD\U0001F3B5"}}) {  // overlong; 4 bytes
    EXPECT_EQ(CoreText(pszCore).ToStdWstring(), shown) << pszCore;
  }
}

// A rejected range (reversed, or the dialog escaped) shows the error and returns to the range
// dialog as the user left it; only Continue ends the caution loop. Then the run has started.
TEST_F(UiTest, StartDialogsRepeatUntilARangeIsAcceptedAndTheCautionIsAcknowledged) {
  const auto range = [](const char* pszFirst, const char* pszLast, bool bEscape) -> Action {
    return [=](wxDialog& d) {
      EXPECT_EQ(Value(d, "IDC_FIRST_NOTE") + Value(d, "IDC_LAST_NOTE"), "C6C1") << bEscape;
      Ctrl<wxTextCtrl>(d, "IDC_FIRST_NOTE")->ChangeValue(pszFirst);
      Ctrl<wxTextCtrl>(d, "IDC_LAST_NOTE")->ChangeValue(pszLast);
      bEscape ? PressEscape(d) : Click("wxID_OK")(d);
    };
  };
  const auto error = [&](std::int32_t nState) -> Action {
    return [=](wxDialog& d) {
      HasSize(256, 154)(d);
      EXPECT_EQ(Value(d, "IDC_HELP_TEXT"), RangeErrorHelpText(nState));
      Click("wxID_OK")(d);
    };
  };
  g_nRangeFirst = 72, g_nRangeLast = 12;
  m_script.Answer("Tune To Your Instrument",
                  {range("C6", "C1", false), range("C6", "C1", true), range("C1", "C6", false)});
  m_script.Answer("Input Range Error!", {error(3), error(0)});
  m_script.Answer("Caution!", {PressEscape, [](wxDialog& d) { d.Close(); },
                               [&](wxDialog& d) {
                                 HasSize(189, 134)(d);
                                 EXPECT_EQ(Label(d, "wxID_OK"), "Continue  >");
                                 Click("wxID_OK")(d);
                               }});
  ASSERT_NE(MakeMainWindow(), nullptr);
  m_pFrame->RunStartDialogs();
  EXPECT_EQ(m_script.seen,
            (Strings{"Tune To Your Instrument", "Input Range Error!", "Tune To Your Instrument",
                     "Input Range Error!", "Tune To Your Instrument", "Caution!", "Caution!",
                     "Caution!"}));
  EXPECT_EQ(std::tuple(g_nRunState, g_nTrainState.load(), g_nCurNote), std::tuple(2, 0, 12));
  EXPECT_EQ(Strings(g_szLog, g_szLog + 4), (Strings{">>>Play ", "...", "C1", ""}));
  EXPECT_STREQ(g_szExpectFreqText, "  33");
}

TEST_F(UiTest, NotePatternDialogShowsTheBuffersAndEndsWithItsButtonsChoice) {
  Strings texts = {"C4", "B4#", "D4#", "2", " 311"},
          names = {"IDC_FROM_NOTE", "IDC_TO_NOTE", "IDC_CUR_NOTE", "IDC_RECORD_COUNT",
                   "IDC_EXPECT_FREQ"};
  CopyText(g_szFirstNoteText, "C4"), CopyText(g_szLastNoteText, "B4#");
  CopyText(g_szCurNoteText, "D4#"), CopyText(g_szPlotMode, "2");
  CopyText(g_szExpectFreqText, " 311");
  for (std::size_t k = 0; k < 2 * kPeakCount; ++k) {  // distinct texts
    const std::size_t i = k % kPeakCount;
    texts.push_back(std::to_string(k < kPeakCount ? 300 + k : k));
    k < kPeakCount ? CopyText(g_szFreqText[i], texts.back().c_str())
                   : CopyText(g_szWeightText[i], texts.back().c_str());
    names.push_back((k < kPeakCount ? "IDC_FREQ" : "IDC_WEIGHT") + std::to_string(i + 1));
  }
  CNotePatternDlg dlg(nullptr);
  EXPECT_EQ(dlg.GetTitle(), "Sonavel");
  HasSize(487, 247)(dlg);
  Strings shown;
  for (const std::string& name : names) shown.push_back(Label(dlg, name.c_str()));
  EXPECT_EQ(shown, texts);
  EXPECT_EQ(dlg.GetDefaultItem(), dlg.FindWindow(XRCID("IDC_NEXT")));
  g_nCurNote = 15;
  using enum NoteChoice;
  const char* buttons[] = {"IDC_NEXT", "IDC_REPLAY", "IDC_DONE", "IDC_BACK", ""};  // "": Escape
  const NoteChoice choices[] = {Next, Replay, Done, Back, Closed};
  for (std::size_t k = 0; k < 5; ++k) {
    m_script.Answer("Sonavel", {*buttons[k] != 0 ? Click(buttons[k]) : PressEscape});
    CNotePatternDlg answered(nullptr);
    answered.ShowModal();
    EXPECT_EQ(answered.Choice(), choices[k]) << buttons[k];
  }
  EXPECT_EQ(std::tuple(g_nTrainState.load(), g_nCurNote), std::tuple(-1, 15));  // caller applies
}

TEST_F(UiTest, DialogsOpenInTheMiddleOfTheShownMainWindowOrElseOfTheScreen) {
  const std::function<wxDialog*()> makers[] = {
      [] { return new CTuneRangeDlg(nullptr); }, [] { return new CRangeErrorDlg(nullptr); },
      [] { return new CCautionDlg(nullptr); }, [] { return new CNotePatternDlg(nullptr); },
      [] { return new CAboutDlg(nullptr); }};
  const auto centre = [](const wxRect& r) { return r.GetPosition() + r.GetSize() / 2; };
  auto* pMain = new wxFrame(nullptr, wxID_ANY, "main", wxPoint(40, 60), wxSize(900, 700));
  wxTheApp->SetTopWindow(pMain);
  for (const bool bShown : {false, true}) {
    pMain->Show(bShown);
    const wxRect target = bShown ? pMain->GetScreenRect() : wxDisplay(0U).GetClientArea();
    for (const auto& make : makers) {
      const std::unique_ptr<wxDialog> pDlg(make());
      const wxPoint offset = centre(pDlg->GetScreenRect()) - centre(target);
      EXPECT_LE(std::max(std::abs(offset.x), std::abs(offset.y)), 1) << pDlg->GetTitle() << bShown;
    }
  }
  wxTheApp->SetTopWindow(nullptr);
  pMain->Destroy();
}

// Each tick of the view's 100 ms timer is a controller pass: a recorded note is taken, the log
// redrawn; the status bar says when a file input has ended. New and Open keep view and log.
TEST_F(UiTest, MainWindowRunsTheControllerOnItsTimerAndKeepsTheRunOnNewAndOpen) {
  struct CCountingRedraw : CLogViewRedraw {
    void RedrawLog() override { ++nCalls; }
    int nCalls = 0;
  } redraw;
  CRecordingPrompt prompt;
  SetNotePatternPrompt(&prompt);
  SetLogViewRedraw(&redraw);
  ASSERT_TRUE(AcceptRange("C1", "B7"));
  AcknowledgeCaution();
  for (int b = 0; b < 60; ++b) {  // a decaying 440 Hz note of 25 buffers, then faint
    std::int16_t buffer[kBufferLen];
    const double dAmp = b < 25 ? 8000.0 * (1.0 - b / 25.0) + 20.0 : 20.0;
    for (int k = 0; k < kBufferLen; ++k)
      buffer[k] =
          std::int16_t(dAmp * std::sin(2 * M_PI * 440.0 * (b * kBufferLen + k) / kSampleRateHz));
    ProcessBuffer(buffer);
  }
  CKorvoView* pView = MakeMainWindow();
  ASSERT_NE(pView, nullptr);
  // The log view draws 34 lines from the top line, 17 pixels apart, wrapping at the ring end.
  for (int k = 0; k < kLogLines; ++k) CopyText(g_szLog[k], ("L" + std::to_string(k)).c_str());
  g_nLogTop = kLogLines - 10;
  const wxString path = wxFileName::CreateTempFileName("sonavel-log");
  {
    wxSVGFileDC dc(path, 200, 700);
    pView->OnDraw(&dc);
  }
  const std::string svg = ReadAll(path.utf8_string());
  wxRemoveFile(path);
  const std::regex text(R"re(<text x="([-\d.]+)" y="([-\d.]+)"[^>]*>L(\d+)</text>)re");
  std::vector<std::tuple<double, double, int>> lines;  // x, y, log line
  for (std::sregex_iterator it(svg.begin(), svg.end(), text), end; it != end; ++it)
    lines.emplace_back(std::stod((*it)[1]), std::stod((*it)[2]), std::stoi((*it)[3]));
  ASSERT_EQ(lines.size(), 34U) << svg.substr(0, 2000);
  for (std::size_t i = 0; i < lines.size(); ++i)
    EXPECT_EQ(lines[i],
              std::tuple(0.0, std::get<1>(lines[0]) + 17.0 * double(i), (1990 + int(i)) % 2000));
  bool bEnded = false;
  pView->WatchRecordingEnd([&] { return bEnded; });
  int nInterval = 0;
  pView->Bind(
      wxEVT_TIMER, [&](wxTimerEvent& e) { nInterval = e.GetInterval(), e.Skip(); }, kTimerId);
  pView->OnInitialUpdate();
  m_pFrame->Show();
  EXPECT_EQ(m_pFrame->GetStatusBar()->GetStatusText(0), "Ready");
  EXPECT_EQ(std::tuple(prompt.nCalls, redraw.nCalls), std::tuple(0, 0));
  wxTimer tick(pView, kTimerId);
  wxTimerEvent event(tick);
  pView->ProcessEvent(event);
  EXPECT_EQ(prompt.nCalls, 1);
  EXPECT_GE(redraw.nCalls, 2);  // the note accepted, the next one shown
  bEnded = true;                // the view's own timer: its next tick says so
  for (int k = 0; k < 500 && nInterval == 0; ++k) wxMilliSleep(10), wxYield();
  EXPECT_EQ(nInterval, 100);
  EXPECT_EQ(m_pFrame->GetStatusBar()->GetStatusText(0), "Recording ended");
  EXPECT_EQ(m_pFrame->GetStatusBar()->GetFieldsCount(), 1);  // readable at the narrow width
  EXPECT_EQ(pView->Canvas()->GetClientSize().y, kLogFontHeight * kLogVisible);

  const std::vector<char> log(&g_szLog[0][0], &g_szLog[0][0] + sizeof g_szLog);
  wxCommandEvent command(wxEVT_MENU, wxID_NEW);
  m_pFrame->ProcessWindowEvent(command);
  ASSERT_EQ(m_pManager->GetDocumentsVector().size(), 1U);
  const auto views = m_pManager->GetDocumentsVector()[0]->GetViewsVector();
  EXPECT_EQ(std::vector<wxView*>(views.begin(), views.end()), std::vector<wxView*>{pView});
  EXPECT_EQ(m_pFrame->GetTitle(), "Untitled - korvo");
  const wxFileName file(wxFileName::CreateTempFileName("violin"));
  ASSERT_TRUE(pView->GetDocument()->OnOpenDocument(file.GetFullPath()));
  wxRemoveFile(file.GetFullPath());
  EXPECT_EQ(m_pFrame->GetTitle(), file.GetFullName() + " - korvo");
  m_pFrame->UpdateWindowUI(wxUPDATE_UI_RECURSE);
  EXPECT_TRUE(m_pFrame->GetToolBar()->GetToolEnabled(wxID_SAVE));
  EXPECT_EQ(std::memcmp(log.data(), g_szLog, log.size()), 0);
}

// Failures raised on the capture thread: the caller never waits, each text is shown once on
// the user-interface thread.
TEST_F(UiTest, MessagesFromTheCaptureThreadAreShownOnTheUiThreadOneBoxAtATime) {
  CWxFrontEnd frontEnd(nullptr);
  frontEnd.Install();
  std::thread capture([] {
    for (int k = 0; k < 200; ++k)
      ShowMessageBox(k % 2 == 0 ? "Cannot Add Buffer !" : "Cannot Start Wave In !");
  });
  capture.join();
  EXPECT_TRUE(m_script.seen.empty());
  for (int k = 0; k < 100 && m_script.seen.size() < 2; ++k) wxYield(), wxMilliSleep(10);
  wxYield();
  frontEnd.Uninstall();
  EXPECT_EQ(m_script.seen, (Strings{"Cannot Add Buffer !", "Cannot Start Wave In !"}));
  EXPECT_EQ(m_script.threads, std::vector<std::thread::id>(2, std::this_thread::get_id()));
}

// A melody played from a file while the recognition window listens: its notes, and only they,
// reach the list from the worker, the last one shown large; a bad pattern file opened meanwhile
// gets its message, and listening goes on with the patterns in use.
TEST_F(UiTest, RecognitionWindowListsTheNotesHeardAndReportsABadPatternFile) {
  const std::filesystem::path dir = wxFileName::CreateTempFileName("sonavel-rec").utf8_string();
  std::filesystem::remove(dir), std::filesystem::create_directories(dir);
  std::vector<std::int16_t> s(3 * 11025, 0);
  for (const auto& [dOn, nNote] : {std::pair{0.3, 48}, {1.2, 57}, {1.7, 59}})  // legato to B4
    AddNote(s, nNote, dOn, nNote == 57 ? 0.5 : 0.6);
  WriteSound(dir / "melody.wav", s);
  std::ofstream(dir / "odd.dat") << std::string(49, 'x');
  auto* pFrame = new CRecognitionFrame(nullptr, {(dir / "melody.wav").string(), ""});
  pFrame->Show();
  ASSERT_TRUE(pFrame->UsePatterns(TrainedTonePatterns(), "tones"));
  EXPECT_FALSE(pFrame->OpenPatterns((dir / "odd.dat").string()));
  for (int k = 0; k < 1000 && pFrame->IsListening(); ++k) wxMilliSleep(10), wxYield();
  auto* pList = dynamic_cast<wxListCtrl*>(wxWindow::FindWindowByName("noteList", pFrame));
  ASSERT_NE(pList, nullptr);
  Strings rows;
  for (long i = 0; i < pList->GetItemCount(); ++i)
    rows.push_back(
        wxString::Format("%.1f ", std::stod(pList->GetItemText(i, 0).utf8_string())).utf8_string() +
        pList->GetItemText(i, 2).utf8_string());
  EXPECT_EQ(rows, (Strings{"0.3 C4", "1.2 A4", "1.7 B4"}));
  EXPECT_EQ(wxWindow::FindWindowByName("currentNote", pFrame)->GetLabel(), "B4");
  EXPECT_EQ(wxWindow::FindWindowByName("expectedFrequency", pFrame)->GetLabel(),
            "Expected frequency: 493 Hz");
  EXPECT_EQ(m_script.seen, Strings{"The pattern file " + (dir / "odd.dat").string() +
                                   " is 49 bytes, not a whole number of 48-byte records: not a "
                                   "pattern file."});
  pFrame->Destroy();
  std::filesystem::remove_all(dir);
}

}  // namespace
