// How the command-line programs name the answers to the note pattern dialog: the letter of
// --choices and of the trace, and the word the index of --plot adds to it.
#pragma once

#include <array>

#include "training/FrontEnd.h"

struct ChoiceName {
  NoteChoice choice;
  char cLetter;  // upper case
  const char* pszWord;
};

inline constexpr std::array<ChoiceName, 5> kChoiceNames = {{
    {NoteChoice::Next, 'N', "Next"},
    {NoteChoice::Replay, 'R', "Replay"},
    {NoteChoice::Back, 'B', "Back"},
    {NoteChoice::Done, 'D', "Done"},
    {NoteChoice::Closed, 'X', "closed"},
}};
