// Recognises the notes of a trained instrument in a stream of 11025 Hz samples: onsets from
// the spectral flux of 512-sample frames every 64 samples, each named by the trained pattern
// (six bins, the neighbours at half weight) that best matches the spectra just after it. Keeps
// all of its state in the object: two recognisers can run side by side, and neither touches
// the training run.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "training/NoteTables.h"

struct RecognizedNote {
  double dOnset = 0.0;     // seconds from the first sample
  double dOffset = 0.0;    // seconds
  std::int32_t nNote = 0;  // note index (C0 = 0, A4 = 57)
  double dScore = 0.0;     // 0 ... 1
};

class CRecognizer {
 public:
  // `patterns[k]` is the trained pattern of note k (all zero: untrained); only notes
  // nFirst ... nLast are candidates.
  CRecognizer(const std::vector<NotePattern>& patterns, std::int32_t nFirst, std::int32_t nLast);

  // Feeds samples; notes whose offset is known come out through TakeNotes().
  void Feed(const std::int16_t* pSamples, std::size_t nCount);
  // No more samples: the last note ends here.
  void Finish();
  std::vector<RecognizedNote> TakeNotes();

  // Called from Feed() as soon as a note is named, its offset not yet known (dOffset =
  // dOnset): live input shows it then rather than when it ends.
  void OnNoteStart(std::function<void(const RecognizedNote&)> listener) {
    m_onStart = std::move(listener);
  }

  bool HasCandidates() const { return !m_templates.empty(); }

 private:
  struct Template {
    std::int32_t nNote;
    std::array<float, 256> weights;
    double dNorm;
  };
  struct Frame {
    std::array<float, 256> spectrum;  // magnitudes
    double dEnergy;                   // sum of magnitudes in the band
    double dFlux;                     // rise of log magnitudes over the previous frame
  };

  void AnalyseFrame();
  void Decide(std::int64_t nFrame);
  void CloseNote(double dOffset);

  std::vector<Template> m_templates;
  std::vector<float> m_window;          // Hann
  std::vector<std::int16_t> m_pending;  // samples not yet framed
  std::int64_t m_nFrames = 0;           // frames analysed so far
  std::int64_t m_nConsumed = 0;         // samples before m_pending[0]
  std::deque<Frame> m_frames;           // the recent frames (index m_nFrames - size ... )
  std::array<float, 256> m_prevLog{};
  std::vector<double> m_fluxHistory;  // of the recent frames, for the running median
  bool m_bOpen = false;               // a note is sounding
  RecognizedNote m_current;
  double m_dPeakEnergy = 0.0;
  std::int64_t m_nLastOnsetFrame = -1000;
  std::vector<RecognizedNote> m_done;
  std::function<void(const RecognizedNote&)> m_onStart;
};
