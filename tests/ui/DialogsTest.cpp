// The dialogs under a real display (Xvfb): handlers driven directly, modal endings driven from
// inside ShowModal.
#include <gtest/gtest.h>
#include <wx/button.h>
#include <wx/dcmemory.h>
#include <wx/dcscreen.h>
#include <wx/display.h>
#include <wx/frame.h>
#include <wx/spinbutt.h>
#include <wx/statbmp.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/timer.h>
#include <wx/uiaction.h>
#include <wx/utils.h>
#include <wx/xrc/xmlres.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "support/CoreTestSupport.h"
#include "training/RangeValidation.h"
#include "ui/AboutDlg.h"
#include "ui/CautionDlg.h"
#include "ui/DialogSupport.h"
#include "ui/NotePatternDlg.h"
#include "ui/RangeErrorDlg.h"
#include "ui/TuneRangeDlg.h"

namespace {

template <class T>
T* Ctrl(wxWindow& dlg, const char* pszName) {
  T* pCtrl = dynamic_cast<T*>(dlg.FindWindow(XRCID(pszName)));
  EXPECT_NE(pCtrl, nullptr) << pszName;
  return pCtrl;
}

std::string Value(wxWindow& dlg, const char* pszName) {
  return Ctrl<wxTextCtrl>(dlg, pszName)->GetValue().utf8_string();
}
std::string Label(wxWindow& dlg, const char* pszName) {
  return Ctrl<wxWindow>(dlg, pszName)->GetLabel().utf8_string();
}

// Runs `dlg` modally; `action` runs inside the modal loop. A guard ends a dialog that the
// action failed to end.
int RunModal(wxDialog& dlg, const std::function<void()>& action) {
  wxTimer guard(&dlg);
  dlg.Bind(
      wxEVT_TIMER,
      [&dlg](wxTimerEvent&) {
        ADD_FAILURE() << "the dialog did not end";
        dlg.EndModal(wxID_ABORT);
      },
      guard.GetId());
  guard.StartOnce(5000);
  dlg.CallAfter(action);
  return dlg.ShowModal();
}

void Click(wxDialog& dlg, const char* pszName) {
  wxCommandEvent event(wxEVT_BUTTON, XRCID(pszName));
  event.SetEventObject(dlg.FindWindow(XRCID(pszName)));
  dlg.ProcessWindowEvent(event);
}

void PressEscape(wxDialog& dlg) {
  wxKeyEvent event(wxEVT_CHAR_HOOK);
  event.m_keyCode = WXK_ESCAPE;
  event.SetEventObject(&dlg);
  dlg.ProcessWindowEvent(event);
}

// One click on a spin, as the control does it: it moves within its range and reports the step;
// at either end it neither moves nor reports.
void StepSpin(wxSpinButton* pSpin, int nDelta) {
  const int nPos = std::clamp(pSpin->GetValue() + nDelta, pSpin->GetMin(), pSpin->GetMax());
  if (nPos == pSpin->GetValue()) {
    return;
  }
  pSpin->SetValue(nPos);
  wxSpinEvent event(wxEVT_SPIN, pSpin->GetId());
  event.SetEventObject(pSpin);
  event.SetPosition(nPos);
  pSpin->ProcessWindowEvent(event);
}

void LeaveEdit(wxDialog& dlg, const char* pszName, const char* pszTyped) {
  auto* pEdit = Ctrl<wxTextCtrl>(dlg, pszName);
  pEdit->ChangeValue(pszTyped);
  wxFocusEvent event(wxEVT_KILL_FOCUS, pEdit->GetId());
  event.SetEventObject(pEdit);
  pEdit->ProcessWindowEvent(event);
}

void ExpectDialogSize(wxDialog& dlg, int nWidth, int nHeight) {
  EXPECT_EQ(dlg.GetClientSize(), dlg.ConvertDialogToPixels(wxSize(nWidth, nHeight)));
}

class DialogsTest : public testing::Test {
 protected:
  void SetUp() override {
    ResetCoreForTest();
    InitNoteFrequencies();
    ResetLog();
  }
};

TEST_F(DialogsTest, RangeSpinsStepOneNoteAndDragTheOtherEndUpToC0AndB8) {
  CTuneRangeDlg dlg(nullptr);
  EXPECT_EQ(dlg.GetTitle(), "Tune To Your Instrument");
  auto* pFirst = Ctrl<wxSpinButton>(dlg, "IDC_FIRST_SPIN");
  auto* pLast = Ctrl<wxSpinButton>(dlg, "IDC_LAST_SPIN");
  // The resource's size, wider by what the desktop's spins need beyond their place.
  EXPECT_EQ(dlg.GetClientSize(),
            dlg.ConvertDialogToPixels(wxSize(141, 89)) +
                wxSize(pFirst->GetSize().x - dlg.ConvertDialogToPixels(wxSize(14, 0)).x, 0));
  EXPECT_EQ(Value(dlg, "IDC_FIRST_NOTE"), "C1");
  EXPECT_EQ(Value(dlg, "IDC_LAST_NOTE"), "C6");
  std::vector<std::string> tabStops;  // Tab from Last Note comes back to Ready
  for (wxWindow* pChild : dlg.GetChildren()) {
    if (pChild->CanAcceptFocusFromKeyboard()) tabStops.push_back(pChild->GetName().utf8_string());
  }
  EXPECT_EQ(tabStops, (std::vector<std::string>{"wxID_OK", "IDC_FIRST_NOTE", "IDC_LAST_NOTE"}));
  EXPECT_EQ(std::tuple(pFirst->GetMin(), pFirst->GetMax(), pFirst->GetValue(), pLast->GetValue()),
            std::tuple(0, 107, 12, 72));

  StepSpin(pFirst, +1);
  EXPECT_EQ(Value(dlg, "IDC_FIRST_NOTE"), "C1#");
  for (int k = 0; k < 59; ++k) StepSpin(pFirst, +1);
  EXPECT_EQ(std::tuple(g_nRangeFirst, g_nRangeLast), std::tuple(72, 72));
  StepSpin(pFirst, +1);  // above the last note: drags it along
  EXPECT_EQ(Value(dlg, "IDC_FIRST_NOTE"), "C6#");
  EXPECT_EQ(Value(dlg, "IDC_LAST_NOTE"), "C6#");
  EXPECT_EQ(std::tuple(g_nRangeLast, pLast->GetValue()), std::tuple(73, 73));

  StepSpin(pLast, -1);  // below the first note: drags it along
  EXPECT_EQ(Value(dlg, "IDC_FIRST_NOTE"), "C6");
  EXPECT_EQ(Value(dlg, "IDC_LAST_NOTE"), "C6");
  EXPECT_EQ(pFirst->GetValue(), 72);

  for (int k = 0; k < 200; ++k) StepSpin(pFirst, +1);
  EXPECT_EQ(Value(dlg, "IDC_FIRST_NOTE"), "B8");
  EXPECT_EQ(Value(dlg, "IDC_LAST_NOTE"), "B8");
  EXPECT_EQ(std::tuple(g_nRangeFirst, g_nRangeLast), std::tuple(107, 107));
  for (int k = 0; k < 200; ++k) StepSpin(pLast, -1);
  EXPECT_EQ(Value(dlg, "IDC_FIRST_NOTE"), "C0");
  EXPECT_EQ(Value(dlg, "IDC_LAST_NOTE"), "C0");
  EXPECT_EQ(std::tuple(g_nRangeFirst, pFirst->GetValue()), std::tuple(0, 0));

  // A position past the end (never reported by the control) is held at the last note.
  wxSpinEvent past(wxEVT_SPIN, pLast->GetId());
  past.SetPosition(108);
  dlg.OnDeltaposLastSpin(past);
  EXPECT_EQ(g_nRangeLast, 107);
}

TEST_F(DialogsTest, TypedNotesAreLookedUpWhenTheEditLosesTheFocus) {
  CTuneRangeDlg dlg(nullptr);
  LeaveEdit(dlg, "IDC_FIRST_NOTE", "e4x");  // upper-cased, cut to E4, recognised
  EXPECT_STREQ(g_szFirstNoteText, "E4");
  EXPECT_EQ(g_nRangeFirst, 52);
  EXPECT_EQ(Ctrl<wxSpinButton>(dlg, "IDC_FIRST_SPIN")->GetValue(), 52);
  EXPECT_EQ(Value(dlg, "IDC_FIRST_NOTE"), "E4X");  // shown as typed

  LeaveEdit(dlg, "IDC_FIRST_NOTE", "H2");  // no such note: nothing moves
  EXPECT_STREQ(g_szFirstNoteText, "H2");
  EXPECT_EQ(g_nRangeFirst, 52);
  EXPECT_EQ(Ctrl<wxSpinButton>(dlg, "IDC_FIRST_SPIN")->GetValue(), 52);

  // The edit takes at most three characters; pasted letters become capitals, the caret stays.
  auto* pLast = Ctrl<wxTextCtrl>(dlg, "IDC_LAST_NOTE");
  pLast->Clear();
  pLast->WriteText("c2#");
  pLast->WriteText("x");
  wxYield();
  EXPECT_EQ(Value(dlg, "IDC_LAST_NOTE"), "C2#");
  EXPECT_EQ(pLast->GetInsertionPoint(), 3);
  LeaveEdit(dlg, "IDC_LAST_NOTE", "C2#");
  EXPECT_STREQ(g_szLastNoteText, "C2#");
  EXPECT_EQ(g_nRangeLast, 25);
  EXPECT_EQ(Ctrl<wxSpinButton>(dlg, "IDC_LAST_SPIN")->GetValue(), 25);
  EXPECT_EQ(g_nRunState, 0);  // only Ready decides
}

TEST_F(DialogsTest, KeysTypedIntoTheNoteEditsGoInAtTheCaretInCapitals) {
  CTuneRangeDlg dlg(nullptr);
  dlg.Show();
  dlg.Raise();  // with no window manager, this gives the dialog the keyboard
  for (const auto& [pszName, pszKeys, pszShown] :
       {std::tuple{"IDC_FIRST_NOTE", "c4", "C4"}, {"IDC_LAST_NOTE", "c4#", "C4#"}}) {
    auto* pEdit = Ctrl<wxTextCtrl>(dlg, pszName);
    pEdit->SetFocus();
    pEdit->SelectAll();
    wxYield();
    wxUIActionSimulator().Text(pszKeys);  // real key presses through the X server
    for (int k = 0; k < 100 && Value(dlg, pszName) != pszShown; ++k) {
      wxMilliSleep(20);
      wxYield();
    }
    EXPECT_EQ(Value(dlg, pszName), pszShown);
    EXPECT_EQ(pEdit->GetInsertionPoint(), static_cast<long>(std::strlen(pszShown)));
  }
}

TEST_F(DialogsTest, CoreTextsThatAreNotUtf8ShowWithReplacementCharacters) {
  for (const auto& [pszCore, shown] :
       {std::pair<const char*, std::wstring>{"C4\xC3\xA9", L"C4\u00E9"},
        {"C4\xC3", L"C4\uFFFD"},                                     // cut inside a character
        {"A\xFF\xE2\x82x", L"A\uFFFD\uFFFDx"},                       // one mark per broken sequence
        {"\xED\xA0\x80", L"\uFFFD\uFFFD\uFFFD"},                     // a surrogate is no character
        {"\xC0\xAF\xF0\x9F\x8E\xB5", L"\uFFFD\uFFFD\U0001F3B5"}}) {  // overlong; 4 bytes
    EXPECT_EQ(CoreText(pszCore).ToStdWstring(), shown) << pszCore;
  }
  CopyText(g_szNoteName[12], "C\xFF");  // the start of the range, from a broken note file
  CTuneRangeDlg dlg(nullptr);
  EXPECT_EQ(Value(dlg, "IDC_FIRST_NOTE"), "C\xEF\xBF\xBD");
}

TEST_F(DialogsTest, ReadyAcceptsTheShownRangeAndStartsTheRun) {
  CTuneRangeDlg dlg(nullptr);
  EXPECT_EQ(RunModal(dlg, [&] { Click(dlg, "wxID_OK"); }), wxID_OK);
  EXPECT_EQ(g_nRunState, 2);
  EXPECT_EQ(g_nCurNote, 12);
  EXPECT_STREQ(g_szLog[0], ">>>Play ");
  EXPECT_STREQ(g_szLog[1], "...");
  EXPECT_STREQ(g_szLog[2], "C1");
  EXPECT_STREQ(g_szExpectFreqText, "  33");
}

TEST_F(DialogsTest, ReadyRejectsAReversedRangeAndEscapeAcceptsNothing) {
  CTuneRangeDlg reversed(nullptr);
  Ctrl<wxTextCtrl>(reversed, "IDC_FIRST_NOTE")->ChangeValue("C6");
  Ctrl<wxTextCtrl>(reversed, "IDC_LAST_NOTE")->ChangeValue("C1");
  EXPECT_EQ(RunModal(reversed, [&] { Click(reversed, "wxID_OK"); }), wxID_OK);
  EXPECT_EQ(g_nRunState, 3);
  EXPECT_EQ(Ctrl<wxSpinButton>(reversed, "IDC_FIRST_SPIN")->GetValue(), 72);
  EXPECT_EQ(Ctrl<wxSpinButton>(reversed, "IDC_LAST_SPIN")->GetValue(), 12);

  g_nRunState = 0;
  CTuneRangeDlg reopened(nullptr);  // where the user left it
  EXPECT_EQ(Value(reopened, "IDC_FIRST_NOTE"), "C6");
  EXPECT_EQ(Value(reopened, "IDC_LAST_NOTE"), "C1");
  EXPECT_EQ(RunModal(reopened, [&] { PressEscape(reopened); }), wxID_CANCEL);
  EXPECT_EQ(g_nRunState, 0);
}

TEST_F(DialogsTest, ErrorDialogShowsTheHelpTextOfTheState) {
  for (const std::int32_t nState : {0, 1, 3}) {
    g_nRunState = nState;
    CRangeErrorDlg dlg(nullptr);
    EXPECT_EQ(dlg.GetTitle(), "Input Range Error!");
    ExpectDialogSize(dlg, 256, 154);
    EXPECT_EQ(Value(dlg, "IDC_HELP_TEXT"), RangeErrorHelpText(nState)) << nState;
  }
}

TEST_F(DialogsTest, OnlyContinueAcknowledgesTheCaution) {
  CCautionDlg dlg(nullptr);
  EXPECT_EQ(dlg.GetTitle(), "Caution!");
  ExpectDialogSize(dlg, 189, 134);
  EXPECT_EQ(Label(dlg, "wxID_OK"), "Continue  >");
  auto* pPicture = Ctrl<wxStaticBitmap>(dlg, "IDC_CAUTION_PICTURE");
  EXPECT_EQ(pPicture->GetBitmap().GetSize(), wxSize(307, 193));
  EXPECT_EQ(pPicture->GetSize(), dlg.ConvertDialogToPixels(wxSize(158, 97)));
  EXPECT_EQ(RunModal(dlg, [&] { PressEscape(dlg); }), wxID_CANCEL);
  EXPECT_EQ(RunModal(dlg, [&] { dlg.Close(); }), wxID_CANCEL);  // the close box
  EXPECT_EQ(g_nTrainState, -1);
  EXPECT_EQ(RunModal(dlg, [&] { Click(dlg, "wxID_OK"); }), wxID_OK);
  EXPECT_EQ(g_nTrainState, 0);
}

TEST_F(DialogsTest, AboutBoxShowsTheIconAndVersion) {
  CAboutDlg dlg(nullptr);
  EXPECT_EQ(dlg.GetTitle(), "About Sonavel");
  ExpectDialogSize(dlg, 217, 73);
  EXPECT_EQ(Label(dlg, "IDC_VERSION"), "Sonavel Version 1.0");
  EXPECT_EQ(Ctrl<wxStaticBitmap>(dlg, "IDC_APP_ICON")->GetBitmap().GetSize(), wxSize(32, 32));
  EXPECT_EQ(RunModal(dlg, [&] { Click(dlg, "wxID_OK"); }), wxID_OK);
}

TEST_F(DialogsTest, NotePatternDialogShowsTheBuffersAndOrdersItsButtons) {
  CopyText(g_szFirstNoteText, "C4");
  CopyText(g_szLastNoteText, "B4#");
  CopyText(g_szCurNoteText, "D4#");
  CopyText(g_szPlotMode, "2");
  CopyText(g_szExpectFreqText, " 311");
  const char* const freqs[] = {" 301", " 602", " 904", "1205", "1507", "1808"};
  const char* const weights[] = {"10", " 7", " 5", " 3", " 2", " 1"};
  for (int k = 0; k < kPeakCount; ++k) {
    CopyText(g_szFreqText[k], freqs[k]);
    CopyText(g_szWeightText[k], weights[k]);
  }
  CNotePatternDlg dlg(nullptr);
  EXPECT_EQ(dlg.GetTitle(), "Sonavel");
  ExpectDialogSize(dlg, 487, 247);
  EXPECT_EQ(Label(dlg, "IDC_FROM_NOTE"), "C4");
  EXPECT_EQ(Label(dlg, "IDC_TO_NOTE"), "B4#");
  EXPECT_EQ(Label(dlg, "IDC_CUR_NOTE"), "D4#");
  EXPECT_EQ(Label(dlg, "IDC_RECORD_COUNT"), "2");
  EXPECT_EQ(Label(dlg, "IDC_EXPECT_FREQ"), " 311");
  for (int k = 0; k < kPeakCount; ++k) {
    EXPECT_EQ(Label(dlg, ("IDC_FREQ" + std::to_string(k + 1)).c_str()), freqs[k]);
    EXPECT_EQ(Label(dlg, ("IDC_WEIGHT" + std::to_string(k + 1)).c_str()), weights[k]);
  }

  std::vector<std::string> tabStops;
  for (wxWindow* pChild : dlg.GetChildren()) {
    if (pChild->CanAcceptFocusFromKeyboard()) tabStops.push_back(pChild->GetLabel().utf8_string());
  }
  EXPECT_EQ(tabStops, (std::vector<std::string>{"Next  >", "Replay", "Done", "<  Back"}));
  EXPECT_EQ(dlg.GetDefaultItem(), dlg.FindWindow(XRCID("IDC_NEXT")));

  // Back, Replay and Next do not touch.
  const auto rect = [&dlg](const char* pszName) { return Ctrl<wxWindow>(dlg, pszName)->GetRect(); };
  EXPECT_GE(rect("IDC_REPLAY").GetLeft() - rect("IDC_BACK").GetRight() - 1, 3);  // pixels between
  EXPECT_GE(rect("IDC_NEXT").GetLeft() - rect("IDC_REPLAY").GetRight() - 1, 3);

  dlg.Show();  // paints the plot from the buffers without complaint
  dlg.Raise();
  dlg.Update();
  wxYield();
  // The plot area is grey, where the white marks show: a corner as the screen shows it.
  auto* pPlot = Ctrl<wxWindow>(dlg, "IDC_PLOT");
  const wxPoint corner = pPlot->ClientToScreen(wxPoint(pPlot->GetClientSize().x - 4, 4));
  wxBitmap shot(1, 1);
  wxMemoryDC mem(shot);
  wxScreenDC screen;
  mem.Blit(0, 0, 1, 1, &screen, corner.x, corner.y);
  mem.SelectObject(wxNullBitmap);
  const wxImage image = shot.ConvertToImage();
  EXPECT_EQ(std::tuple(image.GetRed(0, 0), image.GetGreen(0, 0), image.GetBlue(0, 0)),
            std::tuple(192, 192, 192));
}

TEST_F(DialogsTest, DialogsOpenInTheMiddleOfTheShownMainWindowOrElseOfTheScreen) {
  const std::function<wxDialog*()> makers[] = {
      [] { return new CTuneRangeDlg(nullptr); }, [] { return new CRangeErrorDlg(nullptr); },
      [] { return new CCautionDlg(nullptr); }, [] { return new CNotePatternDlg(nullptr); },
      [] { return new CAboutDlg(nullptr); }};
  const auto centre = [](const wxRect& rect) { return rect.GetPosition() + rect.GetSize() / 2; };
  auto* pMain = new wxFrame(nullptr, wxID_ANY, "main", wxPoint(40, 60), wxSize(900, 700));
  wxTheApp->SetTopWindow(pMain);
  for (const bool bShown : {false, true}) {
    pMain->Show(bShown);
    const wxRect target = bShown ? pMain->GetScreenRect() : wxDisplay(0U).GetClientArea();
    for (const auto& make : makers) {
      const std::unique_ptr<wxDialog> pDlg(make());
      const wxPoint offset = centre(pDlg->GetScreenRect()) - centre(target);
      EXPECT_LE(std::max(std::abs(offset.x), std::abs(offset.y)), 1)
          << pDlg->GetTitle() << (bShown ? " over the main window" : " on the screen");
    }
  }
  wxTheApp->SetTopWindow(nullptr);
  pMain->Destroy();
}

TEST_F(DialogsTest, NotePatternButtonsEndTheDialogWithTheirChoiceOnly) {
  g_nCurNote = g_nFirstNote + 3;
  const std::pair<const char*, NoteChoice> buttons[] = {{"IDC_NEXT", NoteChoice::Next},
                                                        {"IDC_REPLAY", NoteChoice::Replay},
                                                        {"IDC_DONE", NoteChoice::Done},
                                                        {"IDC_BACK", NoteChoice::Back}};
  for (const auto& [pszName, choice] : buttons) {
    const char* const pszButton = pszName;  // a lambda cannot capture a structured binding
    CNotePatternDlg dlg(nullptr);
    RunModal(dlg, [&] { Click(dlg, pszButton); });
    EXPECT_EQ(dlg.Choice(), choice) << pszButton;
  }
  CNotePatternDlg closed(nullptr);
  RunModal(closed, [&] { PressEscape(closed); });
  EXPECT_EQ(closed.Choice(), NoteChoice::Closed);
  EXPECT_EQ(g_nTrainState, -1);  // the caller applies the choice
  EXPECT_EQ(g_nCurNote, g_nFirstNote + 3);
}

}  // namespace
