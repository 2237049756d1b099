// What the core asks of the front end: show the note pattern dialog and wait for the
// user's answer, redraw the log view, and tell the user of a failure. The desktop program installs
// its windows, the headless trainer scripted answers, the tests fakes. Without an installed front
// end every dialog is answered Next and redraws do nothing.
//
// All calls come from the user-interface thread (the one that runs the training controller).
#pragma once

#include "training/NoteTables.h"

// The ways the note pattern dialog can end.
enum class NoteChoice {
  Next,    // "Next  >" or Enter
  Replay,  // "Replay"
  Done,    // "Done"
  Back,    // "<  Back"
  Closed,  // Escape or the close box
};

class CNotePatternPrompt {
 public:
  virtual ~CNotePatternPrompt() = default;

  // Shows the note pattern dialog modally for `pattern` and returns how it ended. The
  // texts, the plot bounds and the sample ring describe the note when this is called;
  // g_nTrainState is -1 for the whole call.
  virtual NoteChoice AskNoteChoice(const NotePattern& pattern) = 0;
};

class CLogViewRedraw {
 public:
  virtual ~CLogViewRedraw() = default;

  // Has the whole log view drawn again (erasing first).
  virtual void RedrawLog() = 0;
};

class CMessageBoxService {
 public:
  virtual ~CMessageBoxService() = default;

  // Tells the user `pszText` (a device failure, for example). Called on the user-interface
  // thread and on the capture thread; must not wait for the user-interface thread.
  virtual void ShowMessage(const char* pszText) = 0;
};

// Installs the front end's services; nullptr removes them. The caller keeps ownership and
// keeps the object alive while it is installed.
void SetNotePatternPrompt(CNotePatternPrompt* pPrompt);
void SetLogViewRedraw(CLogViewRedraw* pRedraw);
void SetMessageBoxService(CMessageBoxService* pService);

// Calls the installed services (or their defaults).
NoteChoice AskNoteChoice(const NotePattern& pattern);
void RedrawLogView();
// Without an installed service the text goes to standard error.
void ShowMessageBox(const char* pszText);
