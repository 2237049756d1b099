// Writers of recognised notes for other tools and for people: a JSON array, a Standard MIDI
// File and a piano-roll picture (SVG with an index.html). Shared by sonavel-recognize and the
// desktop program's "Save as" commands.
//
// Every file is written whole to a temporary name and renamed over the target only when
// complete (WriteFileReplacing), so a failed write never leaves a truncated file where a good
// one stood. On failure a writer returns false and sets `error` to "Could not write FILE:
// reason", the same words as the pattern files. Not thread-safe between calls that write the
// same file; otherwise callable from any thread.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "recognition/Recognizer.h"

inline constexpr const char* kPianoRollSvgName = "piano-roll.svg";
inline constexpr const char* kPianoRollIndexName = "index.html";

// `names`: the 108 note names, indexed by note index (from the note names file or
// StandardNoteName); the JSON and the piano roll show them. A note index without a name is
// shown as "".

// A JSON array of {"onset": s, "offset": s, "midi": n, "name": "C4#", "score": x}, in the
// order given; midi = note index + 12 (A4 = 69); seconds and scores rounded to 3 decimals.
bool WriteNotesJson(const std::filesystem::path& file, const std::vector<RecognizedNote>& notes,
                    const std::vector<std::string>& names, std::string& error);

// A Standard MIDI File of format 0 (one track), 1000 ticks per quarter note at 1,000,000 µs
// per quarter note, so a tick is exactly 1 ms: each note on channel 1 from its onset to its
// offset rounded to the millisecond, velocity 40 + 87 × score (40 ... 127). A note lasts at
// least one tick; a note that the next note of the same pitch interrupts ends where that one
// starts (a later one of the same pitch starting at the same millisecond is moved 1 ms on),
// so no note-off ever ends the wrong note. Notes with an index outside 0 ... 107 fail.
bool WriteNotesMidi(const std::filesystem::path& file, const std::vector<RecognizedNote>& notes,
                    std::string& error);

// What the piano roll shows.
struct PianoRoll {
  std::vector<RecognizedNote> notes;
  std::vector<std::int32_t> trainedNotes;  // the rows: note indexes trained (and candidates)
  std::vector<float> energy;               // the signal's energy envelope, any scale
  double dEnergyStep = 0.0;                // seconds per energy value
  double dSeconds = 0.0;                   // length of the recording
  std::string title;                       // e.g. the input file's name
};

// Writes kPianoRollSvgName and kPianoRollIndexName into `folder` (created when missing):
// time across, one row per trained note (and per recognised note not among them), lowest at
// the bottom; each note a bar from onset to offset, darker the higher its score, over the
// energy as a pale filled envelope. At most about 4000 pixels wide, however long the
// recording.
bool WritePianoRoll(const std::filesystem::path& folder, const PianoRoll& roll,
                    const std::vector<std::string>& names, std::string& error);
