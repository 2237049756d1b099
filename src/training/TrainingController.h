// The training controller: the main loop of a run. Not a thread of its own: one pass runs on
// every tick of the log view's 100 ms timer, on the user-interface thread. A pass that finds
// a complete note segment takes 512 samples from it, has their spectrum computed and the
// pattern extracted (which shows the note pattern dialog), acts on the user's answer, writes
// the log lines and resets the sample history for the next note.
#pragma once

#include <cstdint>

inline constexpr std::int32_t kLongSegmentLen = 1024;  // samples; shorter ones get an extended plot
inline constexpr std::int32_t kPlotExtension = 1200;   // samples added to a short segment's plot
inline constexpr std::int32_t kTopNote = 107;          // B8, the top of the note range

// Where the 512-sample block of a segment begins: 5 % of the segment's surplus over 512
// samples after its start (before it, for a shorter segment), truncated toward zero.
std::int32_t NoteBlockStart(std::int32_t nSegStart, std::int32_t nSegEnd);

// Everything a run shares back to its value at the start of a process whose note tables are
// loaded and whose log view has just been constructed: run data and patterns, the history
// and its rings, the detector, the frequency table, the log. Note names are kept.
void ResetForNewRun();

// One pass of the timer. Does nothing unless the history is running and no note is being
// handled (g_nTrainState -1). Handles at most one segment; returns only after the note
// pattern dialog, if one was shown, has been answered.
void TrainingTimerPass();
