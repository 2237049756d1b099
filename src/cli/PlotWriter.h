// sonavel-train --plot: one SVG picture per note pattern dialog (the dialog's waveform plot
// and the band spectrum the pattern was taken from, with its six peaks) and an index.html
// that shows them in order. Runs on the thread that answers the dialogs.
#pragma once

#include <array>
#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

#include "training/NoteTables.h"

class CPlotWriter {
 public:
  explicit CPlotWriter(std::filesystem::path folder) : m_folder(std::move(folder)) {}

  // Writes dialog-NNN.svg for the dialog now open: the plot bounds, g_szPlotMode,
  // g_szFreqText/g_szWeightText and g_nCurNote describe it, the history holds its samples.
  // `answer` is how it was answered, as the index shows it.
  void WriteDialog(std::size_t nDialog, const NotePattern& pattern, const std::string& answer);

  // Writes index.html naming every picture written so far.
  void WriteIndex();

  // The first failure to write a file; empty when everything was written.
  const std::string& Error() const { return m_error; }

  // The file name of dialog `nDialog`: "dialog-007.svg".
  static std::string DialogFileName(std::size_t nDialog);

 private:
  struct Entry {
    std::size_t nDialog = 0;
    std::string note;
    std::string answer;
    NotePattern pattern{};
    std::array<std::string, kPeakCount> freqTexts;
  };

  void Write(const std::string& name, const std::string& text);

  std::filesystem::path m_folder;
  std::vector<Entry> m_entries;
  std::string m_error;
};
