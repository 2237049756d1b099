// The recognition window: listens with a trained pattern file and shows the notes as they are
// played. The current note large, with its score as a bar and its expected frequency; a
// scrolling piano roll of the last 10 seconds; the list of recognised notes with their times;
// Open Patterns (with the recent pattern files), Start/Stop listening, Save as MIDI/JSON (the
// writers of sonavel-recognize), Clear; a status bar with the input and the delay from a note's
// onset to its showing.
//
// User-interface thread only. The notes come from the listening session's worker thread
// through this window's event queue (CallAfter); no window is touched from the worker.
#pragma once

#include <wx/filehistory.h>
#include <wx/frame.h>
#include <wx/timer.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "capture/ListeningSession.h"
#include "ui/PianoRollCanvas.h"

class wxGauge;
class wxListCtrl;
class wxButton;
class wxStaticText;

class CRecognitionFrame : public wxFrame {
 public:
  // `pParent`: the training window when opened from it (the window closes with it), else
  // nullptr. `input`: where the sound comes from, as for training.
  CRecognitionFrame(wxWindow* pParent, ListeningInput input);
  ~CRecognitionFrame() override;
  CRecognitionFrame(const CRecognitionFrame&) = delete;
  CRecognitionFrame& operator=(const CRecognitionFrame&) = delete;

  // Reads a pattern file and listens with it (again from the start of a file input). A file
  // that cannot be used gets a message box naming it and the reason, and the window goes on
  // with what it had. Returns whether the file is in use.
  bool OpenPatterns(const wxString& path);
  // The same with patterns held in memory (the training run's); `name` is shown in the title.
  bool UsePatterns(std::vector<NotePattern> patterns, const wxString& name);
  // Open Patterns...: the file chooser, then OpenPatterns.
  void ChoosePatterns();

  void StartListening();
  void StopListening();
  bool IsListening() const { return m_pSession != nullptr; }

  const std::vector<ShownNote>& Notes() const { return m_notes; }

 private:
  void CreateMenus();
  void CreateControls();
  void ShowError(const std::string& text);
  void ShowCurrentNote(const ShownNote* pNote);
  void ShowState(const wxString& state);
  // The notes with their offsets; a note still sounding ends now.
  std::vector<RecognizedNote> NotesToSave() const;
  void SaveNotes(bool bMidi);
  double Now() const;  // the time line's present, in seconds

  void OnNoteStarted(const HeardNote& heard);
  void OnNoteEnded(const RecognizedNote& note);
  void OnInputEnded();
  void OnClear(wxCommandEvent& event);
  void OnRecentFile(wxCommandEvent& event);
  void OnTick(wxTimerEvent& event);
  void OnClose(wxCloseEvent& event);

  ListeningInput m_input;
  std::vector<NotePattern> m_patterns;  // in use; empty before a file was opened
  std::vector<ShownNote> m_notes;       // on the window's time line, in onset order
  std::vector<int> m_delaysMs;          // onset to showing, of the notes since Clear
  std::unique_ptr<CListeningSession> m_pSession;
  unsigned m_nSession = 0;  // sessions started; an ended input counts only for the last
  double m_dBase = 0.0;     // where the time line stood when the session began
  wxFileHistory m_history;
  wxMenu* m_pRecentMenu = nullptr;
  wxTimer m_tick;  // scrolls the piano roll while listening
  wxStaticText* m_pNoteName = nullptr;
  wxStaticText* m_pExpected = nullptr;
  wxStaticText* m_pScoreText = nullptr;
  wxGauge* m_pScore = nullptr;
  wxListCtrl* m_pList = nullptr;
  CPianoRollCanvas* m_pRoll = nullptr;
  wxButton* m_pListen = nullptr;
};
