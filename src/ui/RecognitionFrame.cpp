#include "ui/RecognitionFrame.h"

#include <wx/button.h>
#include <wx/config.h>
#include <wx/filedlg.h>
#include <wx/filename.h>
#include <wx/gauge.h>
#include <wx/listctrl.h>
#include <wx/menu.h>
#include <wx/msgdlg.h>
#include <wx/panel.h>
#include <wx/sizer.h>
#include <wx/statbox.h>
#include <wx/stattext.h>
#include <wx/statusbr.h>
#include <wx/xrc/xmlres.h>

#include <algorithm>
#include <string>

#include "export/NoteExport.h"
#include "files/PatternFiles.h"
#include "training/NoteTables.h"
#include "ui/AboutDlg.h"
#include "ui/DialogSupport.h"

namespace {

constexpr int ID_START = wxID_HIGHEST + 101;   // Listen > Start Listening
constexpr int ID_STOP = wxID_HIGHEST + 102;    // Listen > Stop Listening
constexpr int ID_LISTEN = wxID_HIGHEST + 103;  // the button that starts or stops
constexpr int ID_CLEAR = wxID_HIGHEST + 104;
constexpr int ID_SAVE_MIDI = wxID_HIGHEST + 105;
constexpr int ID_SAVE_JSON = wxID_HIGHEST + 106;
constexpr int kRecentFiles = 4;
constexpr int kTickMs = 40;  // the piano roll scrolls 25 times a second
constexpr const char* kRecentGroup = "/RecentPatternFiles";
constexpr const char* kBoxTitle = "Sonavel";
enum StatusField { kStateField, kInputField, kDelayField, kStatusFields };

// The recognised notes as a list whose rows are drawn from the window's notes on demand, so a
// long session costs no more than a short one.
class CNoteList final : public wxListCtrl {
 public:
  CNoteList(wxWindow* pParent, const std::vector<ShownNote>& notes)
      : wxListCtrl(pParent, wxID_ANY, wxDefaultPosition, wxDefaultSize,
                   wxLC_REPORT | wxLC_VIRTUAL | wxLC_SINGLE_SEL, wxDefaultValidator, "noteList"),
        m_notes(notes) {
    AppendColumn("Onset (s)", wxLIST_FORMAT_RIGHT);
    AppendColumn("Offset (s)", wxLIST_FORMAT_RIGHT);
    AppendColumn("Note");
    AppendColumn("Score", wxLIST_FORMAT_RIGHT);
    for (int k = 0; k < GetColumnCount(); ++k) {
      SetColumnWidth(k, wxLIST_AUTOSIZE_USEHEADER);
    }
  }

  wxString OnGetItemText(long nItem, long nColumn) const override {
    const ShownNote& shown = m_notes[static_cast<std::size_t>(nItem)];
    switch (nColumn) {
      case 0:
        return wxString::Format("%.3f", shown.note.dOnset);
      case 1:
        return shown.bOpen ? wxString(L"\u2026") : wxString::Format("%.3f", shown.note.dOffset);
      case 2:
        return CoreText(g_szNoteName[shown.note.nNote]);
      default:
        return wxString::Format("%.2f", shown.note.dScore);
    }
  }

 private:
  const std::vector<ShownNote>& m_notes;
};

std::vector<std::string> NoteNames() { return {std::begin(g_szNoteName), std::end(g_szNoteName)}; }

}  // namespace

CRecognitionFrame::CRecognitionFrame(wxWindow* pParent, ListeningInput input)
    : wxFrame(pParent, wxID_ANY, "Recognise Notes", wxDefaultPosition, wxSize(900, 640)),
      m_input(std::move(input)),
      m_history(kRecentFiles),
      m_tick(this) {
  SetIcon(wxXmlResource::Get()->LoadIcon("SonavelIcon"));
  CreateMenus();
  CreateControls();
  CreateStatusBar(kStatusFields);
  const int widths[kStatusFields] = {-2, -3, -3};
  GetStatusBar()->SetStatusWidths(kStatusFields, widths);
  ShowState("Open a pattern file to begin");
  // Until a session opens it and knows the device's own name.
  SetStatusText(
      "Input: " + (!m_input.file.empty()
                       ? wxFileName(wxString::FromUTF8(m_input.file)).GetFullName()
                   : m_input.device.empty() ? wxString("the default input device")
                                            : "device " + wxString::FromUTF8(m_input.device)),
      kInputField);
  ShowCurrentNote(nullptr);
  SetMinSize(wxSize(640, 480));
  CentreOnScreen();  // not over the narrow training window, which it would hang off
#ifdef __WXGTK__
  // As the main window: shown at once, not held back until the window manager reports its
  // decorations (GTK then lays the window out at a size it cannot have, and complains).
  m_deferShow = false;
#endif

  Bind(
      wxEVT_MENU, [this](wxCommandEvent&) { ChoosePatterns(); }, wxID_OPEN);
  Bind(
      wxEVT_BUTTON, [this](wxCommandEvent&) { ChoosePatterns(); }, wxID_OPEN);
  Bind(wxEVT_MENU, &CRecognitionFrame::OnRecentFile, this, wxID_FILE1, wxID_FILE9);
  Bind(
      wxEVT_MENU, [this](wxCommandEvent&) { StartListening(); }, ID_START);
  Bind(
      wxEVT_MENU, [this](wxCommandEvent&) { StopListening(); }, ID_STOP);
  Bind(
      wxEVT_BUTTON, [this](wxCommandEvent&) { IsListening() ? StopListening() : StartListening(); },
      ID_LISTEN);
  for (const int nId : {ID_SAVE_MIDI, ID_SAVE_JSON}) {
    Bind(
        wxEVT_MENU, [this, nId](wxCommandEvent&) { SaveNotes(nId == ID_SAVE_MIDI); }, nId);
    Bind(
        wxEVT_BUTTON, [this, nId](wxCommandEvent&) { SaveNotes(nId == ID_SAVE_MIDI); }, nId);
  }
  Bind(wxEVT_MENU, &CRecognitionFrame::OnClear, this, ID_CLEAR);
  Bind(wxEVT_BUTTON, &CRecognitionFrame::OnClear, this, ID_CLEAR);
  Bind(
      wxEVT_MENU, [this](wxCommandEvent&) { Close(); }, wxID_CLOSE);
  Bind(
      wxEVT_MENU, [this](wxCommandEvent&) { CAboutDlg(this).ShowModal(); }, wxID_ABOUT);
  Bind(wxEVT_TIMER, &CRecognitionFrame::OnTick, this);
  Bind(wxEVT_CLOSE_WINDOW, &CRecognitionFrame::OnClose, this);

  // Menu items and buttons are enabled by what can be done now.
  Bind(
      wxEVT_UPDATE_UI,
      [this](wxUpdateUIEvent& e) { e.Enable(!IsListening() && !m_patterns.empty()); }, ID_START);
  Bind(
      wxEVT_UPDATE_UI, [this](wxUpdateUIEvent& e) { e.Enable(IsListening()); }, ID_STOP);
  Bind(
      wxEVT_UPDATE_UI, [this](wxUpdateUIEvent& e) { e.Enable(!m_patterns.empty()); }, ID_LISTEN);
  for (const int nId : {ID_SAVE_MIDI, ID_SAVE_JSON, ID_CLEAR}) {
    Bind(
        wxEVT_UPDATE_UI, [this](wxUpdateUIEvent& e) { e.Enable(!m_notes.empty()); }, nId);
  }
}

CRecognitionFrame::~CRecognitionFrame() {
  // The worker posts to this window: it must have ended before the window goes.
  m_pSession.reset();
  m_tick.Stop();
}

void CRecognitionFrame::CreateMenus() {
  auto* pFile = new wxMenu;
  pFile->Append(wxID_OPEN, L"&Open Patterns\u2026\tCtrl+O",
                "Open a pattern file and listen with it");
  m_pRecentMenu = new wxMenu;
  const int nRecentId =
      pFile->AppendSubMenu(m_pRecentMenu, "Open &Recent", "Open a pattern file opened before")
          ->GetId();
  pFile->AppendSeparator();
  pFile->Append(ID_SAVE_MIDI, L"Save as &MIDI\u2026\tCtrl+S",
                "Save the recognised notes as a Standard MIDI File");
  pFile->Append(ID_SAVE_JSON, L"Save as &JSON\u2026\tCtrl+Shift+S",
                "Save the recognised notes as a JSON array");
  pFile->AppendSeparator();
  pFile->Append(wxID_CLOSE, "&Close\tCtrl+W", "Close this window");
  auto* pListen = new wxMenu;
  pListen->Append(ID_START, "&Start Listening\tF5", "Recognise the notes played from now on");
  pListen->Append(ID_STOP, "S&top Listening\tShift+F5", "Stop listening");
  pListen->AppendSeparator();
  pListen->Append(ID_CLEAR, "&Clear", "Forget the recognised notes");
  auto* pHelp = new wxMenu;
  pHelp->Append(wxID_ABOUT, "&About Sonavel...",
                "Display program information, version number and copyright");
  auto* pBar = new wxMenuBar;
  pBar->Append(pFile, "&File");
  pBar->Append(pListen, "&Listen");
  pBar->Append(pHelp, "&Help");
  SetMenuBar(pBar);

  if (wxConfigBase* pConfig = wxConfigBase::Get(false)) {
    pConfig->SetPath(kRecentGroup);
    m_history.Load(*pConfig);
    pConfig->SetPath("/");
  }
  m_history.UseMenu(m_pRecentMenu);
  m_history.AddFilesToMenu();
  Bind(
      wxEVT_UPDATE_UI, [this](wxUpdateUIEvent& e) { e.Enable(m_history.GetCount() > 0); },
      nRecentId);
}

void CRecognitionFrame::CreateControls() {
  auto* pPanel = new wxPanel(this);
  auto* pCurrent = new wxStaticBoxSizer(wxVERTICAL, pPanel, "Current note");
  wxWindow* pBox = pCurrent->GetStaticBox();
  const long nCentred = wxALIGN_CENTRE_HORIZONTAL | wxST_NO_AUTORESIZE;
  m_pNoteName = new wxStaticText(pBox, wxID_ANY, "", wxDefaultPosition, wxDefaultSize, nCentred,
                                 "currentNote");
  wxFont big = m_pNoteName->GetFont();
  big.SetPointSize(big.GetPointSize() * 4);
  big.MakeBold();
  m_pNoteName->SetFont(big);
  m_pNoteName->SetMinSize(m_pNoteName->GetTextExtent("C8#W") + wxSize(24, 8));
  m_pExpected = new wxStaticText(pBox, wxID_ANY, "", wxDefaultPosition, wxDefaultSize, nCentred,
                                 "expectedFrequency");
  m_pExpected->SetMinSize(m_pExpected->GetTextExtent("Expected frequency: 7902 Hz"));
  m_pScore = new wxGauge(pBox, wxID_ANY, 100, wxDefaultPosition, wxDefaultSize,
                         wxGA_HORIZONTAL | wxGA_SMOOTH, wxDefaultValidator, "score");
  m_pScoreText =
      new wxStaticText(pBox, wxID_ANY, "", wxDefaultPosition, wxDefaultSize, nCentred, "scoreText");
  pCurrent->Add(m_pNoteName, 0, wxEXPAND | wxALL, 8);
  pCurrent->Add(m_pExpected, 0, wxEXPAND | wxLEFT | wxRIGHT, 8);
  pCurrent->AddStretchSpacer();
  pCurrent->Add(m_pScore, 0, wxEXPAND | wxLEFT | wxRIGHT | wxTOP, 8);
  pCurrent->Add(m_pScoreText, 0, wxEXPAND | wxALL, 8);

  m_pList = new CNoteList(pPanel, m_notes);
  auto* pTop = new wxBoxSizer(wxHORIZONTAL);
  pTop->Add(pCurrent, 0, wxEXPAND | wxRIGHT, 8);
  pTop->Add(m_pList, 1, wxEXPAND);

  m_pRoll = new CPianoRollCanvas(pPanel, m_notes);

  auto* pButtons = new wxBoxSizer(wxHORIZONTAL);
  pButtons->Add(new wxButton(pPanel, wxID_OPEN, L"Open Patterns\u2026"), 0, wxRIGHT, 6);
  // As wide as its longer label, so the row does not move when it changes.
  m_pListen = new wxButton(pPanel, ID_LISTEN, "Stop Listening");
  m_pListen->SetMinSize(m_pListen->GetBestSize());
  m_pListen->SetLabel("Start Listening");
  pButtons->Add(m_pListen, 0, wxRIGHT, 6);
  pButtons->Add(new wxButton(pPanel, ID_CLEAR, "Clear"));
  pButtons->AddStretchSpacer();
  pButtons->Add(new wxButton(pPanel, ID_SAVE_MIDI, L"Save as MIDI\u2026"), 0, wxRIGHT, 6);
  pButtons->Add(new wxButton(pPanel, ID_SAVE_JSON, L"Save as JSON\u2026"));

  auto* pMain = new wxBoxSizer(wxVERTICAL);
  pMain->Add(pTop, 2, wxEXPAND | wxLEFT | wxRIGHT | wxTOP, 8);
  pMain->Add(m_pRoll, 3, wxEXPAND | wxLEFT | wxRIGHT | wxTOP, 8);
  pMain->Add(pButtons, 0, wxEXPAND | wxALL, 8);
  pPanel->SetSizer(pMain);
}

bool CRecognitionFrame::OpenPatterns(const wxString& path) {
  std::vector<NotePattern> patterns;
  std::string error;
  if (!ReadPatternFile(std::string(path.utf8_str()), patterns, error)) {
    ShowError(error);
    return false;
  }
  if (CRecognizer::CandidateNotes(patterns, 0, kNoteCount - 1).empty()) {
    ShowError("the pattern file " + std::string(path.utf8_str()) + " has no trained note");
    return false;
  }
  if (!UsePatterns(std::move(patterns), wxFileName(path).GetFullName())) {
    return false;
  }
  wxFileName absolute(path);  // the recent files are offered from wherever Sonavel starts
  absolute.MakeAbsolute();
  m_history.AddFileToHistory(absolute.GetFullPath());
  if (wxConfigBase* pConfig = wxConfigBase::Get(false)) {
    pConfig->SetPath(kRecentGroup);
    m_history.Save(*pConfig);
    pConfig->SetPath("/");
    pConfig->Flush();
  }
  return true;
}

bool CRecognitionFrame::UsePatterns(std::vector<NotePattern> patterns, const wxString& name) {
  std::vector<std::int32_t> trained = CRecognizer::CandidateNotes(patterns, 0, kNoteCount - 1);
  if (trained.empty()) {
    ShowError("no note of " + std::string(name.utf8_str()) + " is trained");
    return false;
  }
  StopListening();
  m_patterns = std::move(patterns);
  m_pRoll->SetRows(std::move(trained));
  SetTitle("Recognise Notes - " + name);
  StartListening();
  return true;
}

void CRecognitionFrame::ChoosePatterns() {
  wxFileDialog dialog(this, L"Open Patterns", wxGetCwd(), wxEmptyString,
                      "Pattern Files (*.dat)|*.dat", wxFD_OPEN | wxFD_FILE_MUST_EXIST);
  if (dialog.ShowModal() == wxID_OK) {
    OpenPatterns(dialog.GetPath());
  }
}

void CRecognitionFrame::StartListening() {
  if (IsListening() || m_patterns.empty()) {
    return;
  }
  // The session's times start at zero; the window's time line goes on from where it stood.
  // What the worker posts is copied into the event, and handled on this thread.
  const unsigned nSession = ++m_nSession;
  const double dBase = m_dBase;
  ListeningListener listener;
  listener.noteStarted = [this, dBase](const HeardNote& heard) {
    HeardNote shifted = heard;
    shifted.note.dOnset += dBase;
    shifted.note.dOffset += dBase;
    CallAfter([this, shifted] { OnNoteStarted(shifted); });
  };
  listener.noteEnded = [this, dBase](const RecognizedNote& note) {
    RecognizedNote shifted = note;
    shifted.dOnset += dBase;
    shifted.dOffset += dBase;
    CallAfter([this, shifted] { OnNoteEnded(shifted); });
  };
  listener.inputEnded = [this, nSession] {
    CallAfter([this, nSession] {
      if (nSession == m_nSession) {
        OnInputEnded();
      }
    });
  };
  auto pSession = std::make_unique<CListeningSession>(m_patterns, std::move(listener));
  std::string error;
  if (!pSession->Start(m_input, error)) {
    ShowState("Stopped");
    if (!error.empty()) {
      ShowError(error);
    }
    return;
  }
  SetStatusText("Input: " + CoreText(pSession->InputName().c_str()), kInputField);
  m_pSession = std::move(pSession);
  m_pListen->SetLabel("Stop Listening");
  ShowState("Listening");
  m_tick.Start(kTickMs);
}

void CRecognitionFrame::StopListening() {
  if (!IsListening()) {
    return;
  }
  m_pSession->Stop();  // the notes it still reports arrive through the event queue
  m_dBase += m_pSession->Position();
  m_pSession.reset();
  m_tick.Stop();
  m_pRoll->SetNow(m_dBase);
  m_pListen->SetLabel("Start Listening");
  ShowState("Stopped");
}

double CRecognitionFrame::Now() const {
  return m_pSession ? m_dBase + m_pSession->Position() : m_dBase;
}

void CRecognitionFrame::OnNoteStarted(const HeardNote& heard) {
  // A new note ends the one before, where the recogniser ends it (its report follows).
  for (ShownNote& shown : m_notes) {
    if (shown.bOpen) {
      shown.bOpen = false;
      shown.note.dOffset = std::max(shown.note.dOnset, heard.note.dOnset);
    }
  }
  m_notes.push_back({heard.note, true});
  m_pList->SetItemCount(static_cast<long>(m_notes.size()));
  m_pList->EnsureVisible(static_cast<long>(m_notes.size()) - 1);
  m_pList->Refresh();
  ShowCurrentNote(&m_notes.back());
  m_pRoll->SetNow(Now());

  const auto delay = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now() - heard.heardAt);
  m_delaysMs.push_back(static_cast<int>(delay.count()));
  std::vector<int> sorted = m_delaysMs;
  std::nth_element(sorted.begin(), sorted.begin() + static_cast<long>(sorted.size() / 2),
                   sorted.end());
  SetStatusText(wxString::Format("Onset to display: %d ms (median %d ms)", m_delaysMs.back(),
                                 sorted[sorted.size() / 2]),
                kDelayField);
}

void CRecognitionFrame::OnNoteEnded(const RecognizedNote& note) {
  for (auto it = m_notes.rbegin(); it != m_notes.rend(); ++it) {
    if (it->note.nNote == note.nNote && it->note.dOnset == note.dOnset) {
      it->note.dOffset = note.dOffset;
      it->bOpen = false;
      m_pList->RefreshItem(static_cast<long>(m_notes.rend() - it) - 1);
      m_pRoll->Refresh();
      return;
    }
  }
}

void CRecognitionFrame::OnInputEnded() {
  StopListening();
  ShowState("Recording ended");
}

void CRecognitionFrame::OnClear(wxCommandEvent& /*event*/) {
  m_notes.clear();
  m_delaysMs.clear();
  if (!IsListening()) {
    m_dBase = 0.0;
  }
  m_pList->SetItemCount(0);
  m_pList->Refresh();
  ShowCurrentNote(nullptr);
  SetStatusText("", kDelayField);
  m_pRoll->SetNow(Now());
}

void CRecognitionFrame::OnRecentFile(wxCommandEvent& event) {
  const auto nIndex = static_cast<std::size_t>(event.GetId() - wxID_FILE1);
  if (nIndex < m_history.GetCount()) {
    const wxString path = m_history.GetHistoryFile(nIndex);
    if (!OpenPatterns(path) && !wxFileName::FileExists(path)) {
      m_history.RemoveFileFromHistory(nIndex);  // gone: no use offering it again
    }
  }
}

void CRecognitionFrame::OnTick(wxTimerEvent& /*event*/) { m_pRoll->SetNow(Now()); }

void CRecognitionFrame::OnClose(wxCloseEvent& /*event*/) {
  StopListening();
  Destroy();
}

void CRecognitionFrame::ShowError(const std::string& text) {
  wxString message = CoreText(text.c_str());
  if (!message.empty()) {
    message[0] = wxToupper(message[0]);
  }
  if (!message.EndsWith(".")) {
    message += ".";
  }
  wxMessageBox(message, kBoxTitle, wxOK | wxICON_ERROR, this);
}

void CRecognitionFrame::ShowCurrentNote(const ShownNote* pNote) {
  if (pNote == nullptr) {
    m_pNoteName->SetLabel(L"\u2014");
    m_pExpected->SetLabel("");
    m_pScore->SetValue(0);
    m_pScoreText->SetLabel("");
    return;
  }
  const std::int32_t nNote = pNote->note.nNote;
  m_pNoteName->SetLabel(CoreText(g_szNoteName[nNote]));
  m_pExpected->SetLabel(wxString::Format("Expected frequency: %d Hz", g_nNoteFreq[nNote]));
  m_pScore->SetValue(static_cast<int>(std::lround(std::clamp(pNote->note.dScore, 0.0, 1.0) * 100)));
  m_pScoreText->SetLabel(wxString::Format("Score: %.2f", pNote->note.dScore));
}

void CRecognitionFrame::ShowState(const wxString& state) { SetStatusText(state, kStateField); }

std::vector<RecognizedNote> CRecognitionFrame::NotesToSave() const {
  std::vector<RecognizedNote> notes;
  const double dNow = Now();
  for (const ShownNote& shown : m_notes) {
    notes.push_back(shown.note);
    if (shown.bOpen) {
      notes.back().dOffset = std::max(dNow, shown.note.dOnset);
    }
  }
  return notes;
}

void CRecognitionFrame::SaveNotes(bool bMidi) {
  if (m_notes.empty()) {
    return;
  }
  const wxString ext = bMidi ? "mid" : "json";
  wxFileDialog dialog(this, bMidi ? L"Save as MIDI" : L"Save as JSON", wxGetCwd(), "notes." + ext,
                      bMidi ? "MIDI Files (*.mid)|*.mid" : "JSON Files (*.json)|*.json",
                      wxFD_SAVE | wxFD_OVERWRITE_PROMPT);
  if (dialog.ShowModal() != wxID_OK) {
    return;
  }
  // A name typed without an ending gets the file type's; the chooser asked about the name
  // typed, so a file of the full name is asked about here.
  wxFileName file(dialog.GetPath());
  if (!file.HasExt()) {
    file.SetExt(ext);
    if (file.FileExists() &&
        wxMessageBox(file.GetFullName() + " already exists.\nDo you want to replace it?",
                     "Confirm Save As", wxYES_NO | wxICON_EXCLAMATION, this) != wxYES) {
      return;
    }
  }
  const std::string path(file.GetFullPath().utf8_str());
  const std::vector<RecognizedNote> notes = NotesToSave();
  std::string error;
  if (!(bMidi ? WriteNotesMidi(path, notes, error)
              : WriteNotesJson(path, notes, NoteNames(), error))) {
    ShowError(error);
    return;
  }
  ShowState("Saved " + file.GetFullName());
}
