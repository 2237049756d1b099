// The answers sonavel-train gives to the note pattern dialogs: the --choices in order, then
// Next. Every dialog answered is written to the trace (one JSON object per line) and to the
// plot folder when they were asked for. Called on the thread that runs the training controller.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <utility>
#include <vector>

#include "cli/PlotWriter.h"
#include "training/AutoAnswer.h"
#include "training/FrontEnd.h"

class CScriptedAnswers {
 public:
  // `pTrace` and `pPlot` may be null; the caller keeps them alive.
  CScriptedAnswers(std::vector<NoteChoice> choices, std::ostream* pTrace, CPlotWriter* pPlot,
                   bool bAuto = false)
      : m_choices(std::move(choices)), m_pTrace(pTrace), m_pPlot(pPlot), m_bAuto(bAuto) {}

  // The answer to the dialog now open for `pattern`, which the pass of timer tick `nTick`
  // (tenths of a second into the run) opened; writes the dialog to the trace and the plots.
  NoteChoice Answer(const NotePattern& pattern, std::int64_t nTick);

 private:
  // --choices auto: judged from the analysed block's sound.
  NoteChoice AutoChoice(const NotePattern& pattern);

  std::vector<NoteChoice> m_choices;
  std::size_t m_nDialogs = 0;  // dialogs answered so far
  std::ostream* m_pTrace;      // --trace, or null
  CPlotWriter* m_pPlot;        // --plot, or null
  bool m_bAuto;                // --choices auto
  CAutoAnswerer m_auto;
};
