// The note segment detector: finds the stretch of the sample history in which a note was
// played. A note shows as a peak of the zero-crossing count (at least 15 per window) and a
// peak of the energy (at least 20.0) fewer than 102 positions apart; from there both
// features are followed down to where the note has decayed.
//
// Runs on the user-interface thread. It never waits for data: when the complete features
// run out it records how far it got in the three globals below and returns; the next call
// continues from there.
#pragma once

#include <cstdint>

// Value and index (relative to the start of the run searched) of an extremum.
struct FloatExtremum {
  float value;
  std::int32_t index;
};

// First maximum of `nCount` floats: starts from element 0 and moves only to a strictly
// greater element, so the earliest of equal maxima wins. With nCount <= 1, element 0.
void ArgMaxFloat(const float* pfValues, std::int32_t nCount, FloatExtremum& result);

// First minimum, likewise (moves only to a strictly smaller element).
void ArgMinFloat(const float* pfValues, std::int32_t nCount, FloatExtremum& result);

extern std::int32_t g_nSegStart;  // where the detected note begins; -1 none
extern std::int32_t g_nSegEnd;    // where it ends, or where the next call continues
extern std::int32_t g_nSegFound;  // -1 looking for an onset, 0 looking for the end, 1 complete

// Searches the feature rings (each given by its position 0) from history position `nStart`
// up to the last complete feature position (g_nCrossPos - 1, read once at entry). Results
// go to g_nSegStart, g_nSegEnd and g_nSegFound. Position -1 (the start after a reset)
// reads as 0.0. Call only while g_nHistoryState is 1. Takes HistoryMutex() while it reads.
void DetectNoteSegment(const float* pfZeroCross, const float* pfEnergy, std::int32_t nStart,
                       std::int32_t nWindow);

// Sets g_nSegStart, g_nSegEnd and g_nSegFound back to -1.
void ResetDetector();
