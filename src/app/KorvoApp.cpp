#include "app/KorvoApp.h"

#include <wx/config.h>
#include <wx/docview.h>
#include <wx/fileconf.h>
#include <wx/filename.h>
#include <wx/image.h>
#include <wx/msgout.h>
#include <wx/stdpaths.h>
#include <wx/xrc/xmlres.h>

#include <string>

#include "capture/PortAudioDevice.h"
#include "capture/SoundFileDevice.h"
#include "capture/WaveInRecorder.h"
#include "files/PatternFiles.h"
#include "training/FrontEnd.h"
#include "training/NoteTables.h"
#include "ui/KorvoDoc.h"
#include "ui/KorvoView.h"
#include "ui/MainFrame.h"
#include "ui/RecognitionFrame.h"
#include "ui/WxFrontEnd.h"

extern void InitXmlResource();  // the compiled dialog resources

namespace {

constexpr const char* kVendor = "Local AppWizard-Generated Applications";
constexpr const char* kAppName = "korvo";
constexpr int kRecentFiles = 4;

// A document manager whose recent-file list holds four entries.
class CKorvoDocManager : public wxDocManager {
 public:
  wxFileHistory* OnCreateFileHistory() override { return new wxFileHistory(kRecentFiles); }
};

// note_symbol.txt: in the current folder, else beside the program, else where it is installed.
std::string NoteNamesPath() {
  const wxString name = "note_symbol.txt";
  if (wxFileName::FileExists(name)) {
    return std::string(name.utf8_str());
  }
  const wxFileName exe(wxStandardPaths::Get().GetExecutablePath());
  for (const wxString& dir : {exe.GetPath(), exe.GetPath() + "/../share/sonavel"}) {
    const wxFileName candidate(dir, name);
    if (candidate.FileExists()) {
      return std::string(candidate.GetFullPath().utf8_str());
    }
  }
  return std::string(name.utf8_str());  // reported as missing; the standard names are used
}

}  // namespace

CKorvoApp::CKorvoApp() = default;

CKorvoApp::~CKorvoApp() = default;

void CKorvoApp::OnInitCmdLine(wxCmdLineParser& parser) {
  wxApp::OnInitCmdLine(parser);
  parser.AddOption("i", "input", "use a sound file as the sound card's input",
                   wxCMD_LINE_VAL_STRING);
  parser.AddOption("d", "device", "the sound input device (index or part of its name)",
                   wxCMD_LINE_VAL_STRING);
  parser.AddSwitch("r", "recognize",
                   "recognise the notes played, with the patterns of a pattern file (.dat)");
  parser.AddParam("pattern file", wxCMD_LINE_VAL_STRING, wxCMD_LINE_PARAM_OPTIONAL);
}

bool CKorvoApp::OnCmdLineParsed(wxCmdLineParser& parser) {
  parser.Found("input", &m_input);
  parser.Found("device", &m_device);
  m_bRecognize = parser.Found("recognize");
  if (parser.GetParamCount() > 0) {
    if (!m_bRecognize) {  // training reads no file
      wxMessageOutput::Get()->Printf(
          "Unexpected parameter '%s': a pattern file is read only with --recognize\n",
          parser.GetParam(0));
      parser.Usage();
      return false;
    }
    m_patterns = parser.GetParam(0);
  }
  return wxApp::OnCmdLineParsed(parser);
}

bool CKorvoApp::OnInit() {
  if (!wxApp::OnInit()) {  // the command line
    return false;
  }
  // The note tables come first: every dialog looks notes up in them.
  LoadNoteNamesFrom(NoteNamesPath());
  InitNoteFrequencies();

  SetVendorName(kVendor);
  SetAppName(kAppName);
  wxConfigBase::Set(new wxFileConfig(kAppName, kVendor));

  // wx owns the handler from here on.
  wxImage::AddHandler(new wxPNGHandler);  // NOLINT(clang-analyzer-cplusplus.NewDeleteLeaks)
  wxXmlResource::Get()->InitAllHandlers();
  InitXmlResource();
  if (m_bRecognize) {
    return StartRecognition();
  }

  m_pDocManager = new CKorvoDocManager;
  new wxDocTemplate(m_pDocManager, "Korvo Document", "", "", "", "Korvo.Document", "Korvo View",
                    wxCLASSINFO(CKorvoDoc), wxCLASSINFO(CKorvoView));
  m_pDocManager->FileHistoryLoad(*wxConfigBase::Get());

  auto* pFrame = new CMainFrame(m_pDocManager, kAppName);
  SetTopWindow(pFrame);
  // The document and its view: the view's constructor empties the log.
  CKorvoView* pView = pFrame->CreateDocumentAndView();
  if (pView == nullptr) {
    ShutDown();  // wx skips OnExit after a failed OnInit; the files are written all the same
    return false;
  }
  m_pFrontEnd = std::make_unique<CWxFrontEnd>(pView);
  m_pFrontEnd->Install();

  pFrame->RunStartDialogs();
  pView->OnInitialUpdate();
  pFrame->Show(true);
  pFrame->Update();

  // Capture last, once the range is chosen and the window is up.
  if (!m_input.empty()) {
    auto pFileDevice = std::make_unique<CSoundFileDevice>(std::string(m_input.utf8_str()), 0);
    // The device outlives the view: it is released only after the main loop has ended.
    pView->WatchRecordingEnd([pFile = pFileDevice.get()] { return pFile->Finished(); });
    m_pDevice = std::move(pFileDevice);
  } else {
    m_pDevice = std::make_unique<CPortAudioDevice>(std::string(m_device.utf8_str()));
  }
  pFrame->SetListeningInput({std::string(m_input.utf8_str()), std::string(m_device.utf8_str())});
  g_recorder.SetDevice(m_pDevice.get());
  g_recorder.Start();
  return true;
}

int CKorvoApp::OnExit() {
  ShutDown();
  return wxApp::OnExit();
}

bool CKorvoApp::StartRecognition() {
  // Device failures from the recorder are shown in message boxes, as in training.
  m_pFrontEnd = std::make_unique<CWxFrontEnd>(nullptr);
  SetMessageBoxService(m_pFrontEnd.get());
  auto* pFrame = new CRecognitionFrame(
      nullptr, {std::string(m_input.utf8_str()), std::string(m_device.utf8_str())});
  SetTopWindow(pFrame);
  pFrame->Show(true);
  // Once the window is up, so that a message box or the chooser opens over it.
  pFrame->CallAfter([pFrame, patterns = m_patterns] {
    if (patterns.empty()) {
      pFrame->ChoosePatterns();
    } else {
      pFrame->OpenPatterns(patterns);
    }
  });
  return true;
}

void CKorvoApp::ShutDown() {
  if (!m_bRecognize) {
    WritePatternText();
    if (g_bUserSaved == 0) {
      WritePatternData();
    }
  }
  g_recorder.Stop();
  g_recorder.SetDevice(nullptr);
  if (m_pFrontEnd) {
    m_pFrontEnd->Uninstall();
  }
  if (m_pDocManager != nullptr) {
    m_pDocManager->FileHistorySave(*wxConfigBase::Get());
    delete m_pDocManager;
    m_pDocManager = nullptr;
  }
  delete wxConfigBase::Set(nullptr);
}
