// The application: start-up in a fixed order (note tables, settings, document template, main
// window with the range dialogs, then capture) and shut-down (pattern files, then capture).
// With --recognize it is the recognition window instead: no range or caution dialogs, no
// training run, and no pattern file written at exit.
#pragma once

#include <wx/app.h>
#include <wx/cmdline.h>

#include <memory>

class CWaveInDevice;
class CWxFrontEnd;
class wxDocManager;

class CKorvoApp : public wxApp {
 public:
  CKorvoApp();
  ~CKorvoApp() override;

  bool OnInit() override;  // InitInstance
  int OnExit() override;   // ExitInstance
  void OnInitCmdLine(wxCmdLineParser& parser) override;
  bool OnCmdLineParsed(wxCmdLineParser& parser) override;

 private:
  // The exit sequence: default_pattern.txt, default_pattern.dat unless the user saved, then
  // capture stops; settings are saved.
  void ShutDown();
  // --recognize: the recognition window, listening with the pattern file given (or one the
  // user chooses).
  bool StartRecognition();

  wxDocManager* m_pDocManager = nullptr;
  std::unique_ptr<CWaveInDevice> m_pDevice;
  std::unique_ptr<CWxFrontEnd> m_pFrontEnd;
  wxString m_input;           // --input: a sound file instead of the sound card
  wxString m_device;          // --device: which sound card input
  bool m_bRecognize = false;  // --recognize: recognise notes instead of training
  wxString m_patterns;        // the pattern file to recognise with; empty: the user chooses
};
