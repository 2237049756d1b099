#include "cli/ScriptedAnswers.h"

#include <nlohmann/json.hpp>
#include <ostream>
#include <string>

#include "analysis/Fft.h"
#include "analysis/SampleHistory.h"
#include "cli/ChoiceNames.h"
#include "training/NoteTables.h"
#include "training/TrainingController.h"

namespace {

const ChoiceName& NameOf(NoteChoice choice) {
  for (const ChoiceName& name : kChoiceNames) {
    if (name.choice == choice) {
      return name;
    }
  }
  return kChoiceNames[0];
}

std::string ChoiceText(NoteChoice choice) {
  const ChoiceName& name = NameOf(choice);
  std::string text(1, name.cLetter);
  text.append(" (").append(name.pszWord).append(")");
  return text;
}

// One line of the trace: what the note pattern dialog showed and how it was answered.
// `nTick` is the timer tick whose pass opened it.
void WriteTraceLine(std::ostream& trace, std::size_t nDialog, std::int64_t nTick,
                    const NotePattern& pattern, NoteChoice choice) {
  nlohmann::ordered_json line;
  line["dialog"] = nDialog;
  line["time"] = static_cast<double>(nTick) / 10.0;
  line["note"] = g_nCurNote >= 0 && g_nCurNote < kNoteCount ? g_szNoteName[g_nCurNote] : "";
  line["segStart"] = g_nPlotStart;
  line["segEnd"] = g_nPlotSegEnd;
  line["blockStart"] = NoteBlockStart(g_nPlotStart, g_nPlotSegEnd);
  line["plotStart"] = g_nPlotStart;
  line["plotSegEnd"] = g_nPlotSegEnd;
  line["plotEnd"] = g_nPlotEnd;
  line["plotMode"] = g_szPlotMode;
  auto bins = nlohmann::ordered_json::array();
  auto weights = nlohmann::ordered_json::array();
  auto freqTexts = nlohmann::ordered_json::array();
  auto weightTexts = nlohmann::ordered_json::array();
  for (int n = 0; n < kPeakCount; ++n) {
    bins.push_back(static_cast<int>(pattern.fBin[n]));
    weights.push_back(static_cast<int>(pattern.fWeight[n]));
    freqTexts.push_back(g_szFreqText[n]);
    weightTexts.push_back(g_szWeightText[n]);
  }
  line["bins"] = bins;
  line["weights"] = weights;
  line["freqTexts"] = freqTexts;
  line["weightTexts"] = weightTexts;
  line["choice"] = std::string(1, NameOf(choice).cLetter);
  trace << line.dump() << '\n' << std::flush;
}

}  // namespace

NoteChoice CScriptedAnswers::AutoChoice(const NotePattern& pattern) {
  float block[kFftLen];  // the block the pattern was taken from, as the trace names it
  CopyHistorySamples(NoteBlockStart(g_nPlotStart, g_nPlotSegEnd), kFftLen, block);
  return m_auto.Answer(block, pattern, g_nCurNote);
}

NoteChoice CScriptedAnswers::Answer(const NotePattern& pattern, std::int64_t nTick) {
  const NoteChoice choice = m_bAuto                         ? AutoChoice(pattern)
                            : m_nDialogs < m_choices.size() ? m_choices[m_nDialogs]
                                                            : NoteChoice::Next;
  ++m_nDialogs;
  if (m_pTrace != nullptr) {
    WriteTraceLine(*m_pTrace, m_nDialogs, nTick, pattern, choice);
  }
  if (m_pPlot != nullptr) {
    m_pPlot->WriteDialog(m_nDialogs, pattern, ChoiceText(choice));
  }
  return choice;
}
