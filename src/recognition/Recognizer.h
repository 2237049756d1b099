// Recognises the notes of a trained instrument in a stream of 11025 Hz samples: onsets from
// the spectral flux of 512-sample frames every 64 samples, each named by the trained pattern
// (six bins, the neighbours at half weight) that best matches the spectra just after it; and,
// where the flux does not rise (legato and soft attacks on strings and winds), a new note
// wherever a pattern clearly takes over from the last note's, or the last note's own returns
// after its sound dipped. Keeps all of its state in the object, in memory of a fixed size:
// two recognisers can run side by side, neither touches the training run, and a recording of
// any length can be fed.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "training/NoteTables.h"

// Silence to feed after a recording's last sample, so that a note sounding at its very end is
// still judged (a note is named from the frames up to ~0.1 s after its onset).
inline constexpr std::int64_t kRecognizerTailSamples = 11025 / 4;

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
  // dOnset): live input shows it then rather than when it ends. A note renamed soon after its
  // onset (its first frames still held the note before, or scooped up to its pitch) is told
  // again, with the same onset. A note is named some 75 ms after its onset (the frames after
  // it must be seen), one found by its spectrum rather than its attack up to ~200 ms after.
  void OnNoteStart(std::function<void(const RecognizedNote&)> listener) {
    m_onStart = std::move(listener);
  }

  // The notes nFirst ... nLast of `patterns` that a recogniser can name: those trained with
  // a peak in the band, lowest first.
  static std::vector<std::int32_t> CandidateNotes(const std::vector<NotePattern>& patterns,
                                                  std::int32_t nFirst, std::int32_t nLast);

 private:
  // a peak and its two neighbours, for each peak of a pattern
  static constexpr std::size_t kTemplateBins = 3 * static_cast<std::size_t>(kPeakCount);
  struct Template {
    std::int32_t nNote;
    std::int32_t nBins;                            // bins[0 ... nBins - 1] in rising order
    std::array<std::int32_t, kTemplateBins> bins;  // the peaks and their neighbours
    std::array<float, kTemplateBins> weights;
    double dNorm;
  };
  // The template of note nNote's pattern `p` into `t`; false when it weighs no bin of the band.
  static bool MakeTemplate(const NotePattern& p, std::int32_t nNote, Template& t);

  struct Features {
    double dEnergy;       // sum of magnitudes in the band
    double dFlux;         // rise of log magnitudes over the previous frame
    std::size_t nWinner;  // the template closest to the frame
  };

  struct Start {              // a note to start
    std::int64_t nFrame = 0;  // its onset lies in this frame ...
    double dWithin = 0.0;     // ... this many samples after the frame's first
    std::size_t nTemplate = 0;
    double dScore = 0.0;
    double dPeakEnergy = 0.0;  // of its first frames
  };

  void AnalyseFrame(const std::int16_t* pSamples);
  void Decide(std::int64_t nFrame);
  bool StartAtAttack(std::int64_t nFrame);
  void StartAtChange(std::int64_t nFrame);
  void StartAfterChange(std::int64_t nFrame, std::int64_t nAttack, const Start& start);
  void StartNote(const Start& start);
  void Rename(std::size_t nTemplate, double dScore);  // the sounding note
  void CloseNote(double dOffset);
  const Features& FeaturesOf(std::int64_t nFrame) const;
  const double* CosinesOf(std::int64_t nFrame) const;

  std::vector<Template> m_templates;
  std::vector<float> m_window;          // Hann
  std::vector<std::int16_t> m_samples;  // fixed size; m_nBegin ... m_nEnd not yet framed
  std::size_t m_nBegin = 0;             // first sample of the next frame
  std::size_t m_nEnd = 0;               // one past the last sample fed
  std::int64_t m_nFrames = 0;           // frames analysed so far
  std::vector<Features> m_features;     // ring: frame f at f % its size
  std::vector<float> m_block;           // the frame being analysed, then its magnitudes
  std::vector<double> m_cosines;        // ring: a frame's cosine with each template
  std::array<float, 256> m_prevLog{};   // log magnitudes of the previous frame
  bool m_bOpen = false;                 // a note is sounding
  RecognizedNote m_current;
  std::size_t m_nTemplate = 0;     // the sounding note's template (or the last note's)
  Start m_pending;                 // found by a change of template, ...
  std::int64_t m_nPendingAt = -1;  // ... to start when this frame is no attack (-1: none)
  double m_dPeakEnergy = 0.0;      // the loudest frame of the sounding (or last) note
  std::int64_t m_nLastOnsetFrame = -1000;
  std::int64_t m_nEndFrame = 0;  // where the last note ended for want of energy
  std::vector<RecognizedNote> m_done;
  std::function<void(const RecognizedNote&)> m_onStart;
};
