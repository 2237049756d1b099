// Shared state and a fake front end for tests of the core.
#pragma once

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "analysis/SampleHistory.h"
#include "training/FrontEnd.h"
#include "training/NoteTables.h"
#include "training/TrainingController.h"

// Every piece of shared state back to its start, with the standard note names and no front
// end installed.
inline void ResetCoreForTest() {
  ResetForNewRun();
  ClearHistory();  // tests write the rings directly too
  for (int k = 0; k < kNoteCount; ++k) CopyText(g_szNoteName[k], StandardNoteName(k).c_str());
  SetNotePatternPrompt(nullptr);
  SetLogViewRedraw(nullptr);
}

inline std::string ReadAll(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline bool Holds(int nNote, const NotePattern& pattern) {
  return std::memcmp(&g_fPattern[nNote], &pattern, sizeof pattern) == 0;
}

// Answers the note pattern dialog with `choice`, recording what was ready when it was asked.
struct CRecordingPrompt : CNotePatternPrompt {
  explicit CRecordingPrompt(NoteChoice answer = NoteChoice::Next) : choice(answer) {}
  NoteChoice AskNoteChoice(const NotePattern& pattern) override {
    ++nCalls;
    seen = pattern;
    nTrainState = g_nTrainState;
    nPlotEnd = g_nPlotEnd;
    strPlotMode = g_szPlotMode;
    strFreq0 = g_szFreqText[0];
    return choice;
  }
  NoteChoice choice;
  int nCalls = 0;
  NotePattern seen{};
  std::int32_t nTrainState = 0, nPlotEnd = 0;
  std::string strPlotMode, strFreq0;
};
