// The note pattern dialog's rules: what each button does to the run state, and which
// choices store the pattern and leave the note's name for the log.
#pragma once

#include "training/FrontEnd.h"
#include "training/NoteTables.h"

// Button handlers of the note pattern dialog. Each sets g_nTrainState; OnBack also steps
// g_nCurNote down one while it is above g_nFirstNote.
void OnNext();
void OnReplay();
void OnDone();
void OnBack();

// Applies the handler of `choice`; Closed leaves g_nTrainState as it is (-1).
void ApplyNoteChoice(NoteChoice choice);

// Shows the note pattern dialog through the installed front end, applies the answer, then:
// every choice but Replay copies the current note's name into g_szMessage; Next, Done and
// Closed store `pattern` in record g_nCurNote of g_fPattern.
void ConfirmNotePattern(const NotePattern& pattern);
