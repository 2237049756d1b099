// The rules of the range dialogs: how a typed note is looked up and cut, what the range
// dialog's Ready (OK) does, what an accepted range writes to start the run, and the help
// text the error dialog shows after a rejected attempt. User-interface thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Index of the first note name (0 ... 107) that equals `pszText` byte for byte; -1 none.
std::int32_t FindNoteIndex(const char* pszText);

// Characters a note edit of the range dialog holds.
inline constexpr std::size_t kMaxNoteChars = 3;

// The text as the range dialog's edit holds it: letters upper-cased, at most 3 characters.
// Texts are UTF-8 and cut between characters: "c4éx" gives "C4é".
std::string EditNoteText(const std::string& typed);

// Copies `pszText` (at most 3 characters are kept) into the 4-byte `szDest` and cuts it after
// its second character unless the third is '#': "C4#" stays, "C4X" and "C4é" become "C4".
// A text longer than the 3 bytes the buffer holds loses its last characters whole.
void NormalizeNoteText(const char* pszText, char (&szDest)[4]);

// The range dialog's Ready with the two edit texts: cuts them into g_szFirstNoteText and
// g_szLastNoteText, looks up the first note (state 0 -> 1), then the last (1 -> 2), then
// rejects a reversed range (2 -> 3) or starts the run. Returns whether the run started
// (g_nRunState is 2).
bool AcceptRange(const std::string& firstText, const std::string& lastText);

// What an accepted range writes: current and first note, the patterns below the range
// zeroed, log lines 0 ... 2 (">>>Play ", "...", the first note's name), the current note's
// texts.
void StartTrainingRun(std::int32_t nFirst);

// The error dialog's text for the state an attempt ended in (0 first note not recognised,
// 3 reversed range, anything else last note not recognised); CR LF line ends.
std::string RangeErrorHelpText(std::int32_t nRunState);

// The caution dialog's "Continue  >": lets the history take sound and the controller start.
void AcknowledgeCaution();
