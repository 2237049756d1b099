// The recogniser on a melody of harmonic tones, with patterns taken from the same tones as
// training takes them: every note at its onset, legato and a repeated note included, and only
// trained notes.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <tuple>
#include <vector>

#include "recognition/Recognizer.h"
#include "support/HarmonicTones.h"

namespace {

TEST(RecognitionTest, MelodyOfTrainedTonesGivesItsNotes) {
  const std::vector<NotePattern> patterns = TrainedTonePatterns();
  // onset, length, note: rests, legato (57 -> 59 -> 55), a repeated 50, a short last note
  const std::tuple<double, double, std::int32_t> kMelody[] = {
      {0.5, 0.6, 48}, {1.3, 0.3, 50}, {1.8, 0.4, 50}, {2.4, 0.5, 57},
      {2.9, 0.4, 59}, {3.3, 0.6, 55}, {5.0, 0.25, 52}};
  std::vector<std::int16_t> s(6 * 11025, 0);
  for (const auto& [dOn, dLength, nNote] : kMelody) AddNote(s, nNote, dOn, dLength);
  CRecognizer recognizer(patterns, 0, kNoteCount - 1);
  for (std::size_t k = 0; k < s.size(); k += 512)
    recognizer.Feed(&s[k], std::min<std::size_t>(512, s.size() - k));
  recognizer.Finish();
  const std::vector<RecognizedNote> notes = recognizer.TakeNotes();
  std::vector<std::tuple<double, std::int32_t>> want, got;
  for (const auto& [dOn, dLength, nNote] : kMelody) want.emplace_back(dOn, nNote);
  for (const RecognizedNote& note : notes) {
    got.emplace_back(note.dOnset, note.nNote);
    EXPECT_TRUE(note.dOffset > note.dOnset && note.dScore > 0.5 && note.dScore <= 1.0);
    EXPECT_NE(patterns[static_cast<std::size_t>(note.nNote)].fWeight[0], 0.0f);  // trained
  }
  ASSERT_EQ(got.size(), want.size());
  for (std::size_t i = 0; i < got.size(); ++i) {
    EXPECT_EQ(std::get<1>(got[i]), std::get<1>(want[i])) << i;
    EXPECT_NEAR(std::get<0>(got[i]), std::get<0>(want[i]), 0.03) << i;
  }
}

// Tones swelling and fading into one another over 0.1 s, in noise that keeps the flux busy: no
// attack stands out, yet every note is found where its spectrum shows it.
TEST(RecognitionTest, SwellingTonesInNoiseAreFoundByTheirSpectra) {
  const std::tuple<double, double, std::int32_t> kMelody[] = {
      {0.5, 1.1, 48}, {1.5, 1.2, 52}, {2.6, 0.8, 55}};
  std::vector<std::int16_t> s(4 * 11025, 0);
  for (const auto& [dOn, dLength, nNote] : kMelody) AddNote(s, nNote, dOn, dLength, 0.1);
  for (std::int16_t& v : s) v = static_cast<std::int16_t>(v + std::rand() % 1000 - 500);
  CRecognizer recognizer(TrainedTonePatterns(), 0, kNoteCount - 1);
  recognizer.Feed(s.data(), s.size());
  recognizer.Finish();
  const std::vector<RecognizedNote> notes = recognizer.TakeNotes();
  ASSERT_EQ(notes.size(), std::size(kMelody));
  for (std::size_t i = 0; i < notes.size(); ++i) {
    EXPECT_EQ(notes[i].nNote, std::get<2>(kMelody[i])) << i;
    EXPECT_NEAR(notes[i].dOnset, std::get<0>(kMelody[i]), 0.03) << i;
  }
}

// A recording cut to its first note, or inside it: the note is there from the first sample.
TEST(RecognitionTest, NoteSoundingFromTheFirstSampleIsFound) {
  for (const std::size_t nCut : {0, 300, 1500}) {  // samples of the note cut away
    std::vector<std::int16_t> s(2 * 11025, 0);
    AddNote(s, 55, 0.0, 1.0);
    CRecognizer recognizer(TrainedTonePatterns(), 0, kNoteCount - 1);
    recognizer.Feed(s.data() + nCut, s.size() - nCut);
    recognizer.Finish();
    const std::vector<RecognizedNote> notes = recognizer.TakeNotes();
    ASSERT_EQ(notes.size(), 1u) << nCut;
    EXPECT_EQ(notes[0].nNote, 55);
    EXPECT_LT(notes[0].dOnset, 0.03);
  }
}

}  // namespace
