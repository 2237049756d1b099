#include "export/NoteExport.h"

#include <smf.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <nlohmann/json.hpp>
#include <system_error>

#include "files/PatternFiles.h"
#include "training/NoteTables.h"

namespace fs = std::filesystem;

namespace {

constexpr int kTicksPerQuarter = 1000;
constexpr unsigned char kTempoEvent[] = {0xFF, 0x51, 0x03, 0x0F, 0x42, 0x40};  // 1,000,000 µs
constexpr int kNoteOn = 0x90;                                                  // channel 1
constexpr int kNoteOff = 0x80;
constexpr int kMidiOfIndex = 12;  // note index 57 (A4) is MIDI note 69

double Rounded(double dValue) { return std::round(dValue * 1000.0) / 1000.0; }

// Whole milliseconds from the start, 0 for what is not a time, kept far from int overflow.
int Tick(double dSeconds) {
  if (!std::isfinite(dSeconds)) {
    return 0;
  }
  return static_cast<int>(std::clamp(std::round(dSeconds * 1000.0), 0.0, 1.0e9));
}

int Velocity(double dScore) {
  const double dClamped = std::isfinite(dScore) ? std::clamp(dScore, 0.0, 1.0) : 0.0;
  return std::clamp(static_cast<int>(std::lround(40.0 + 87.0 * dClamped)), 1, 127);
}

struct MidiNote {
  int nOn;
  int nOff;
  int nPitch;
  int nVelocity;
};

struct MidiEvent {
  int nTick;
  int nStatus;
  int nPitch;
  int nVelocity;
};

// The notes' events in time order, each note at least a tick long and never ended by the
// note-off of another of its pitch; at one tick note-offs come first.
std::vector<MidiEvent> MidiEvents(const std::vector<RecognizedNote>& notes) {
  std::vector<MidiNote> midi;
  midi.reserve(notes.size());
  for (const RecognizedNote& note : notes) {
    midi.push_back(
        {Tick(note.dOnset), Tick(note.dOffset), note.nNote + kMidiOfIndex, Velocity(note.dScore)});
  }
  std::stable_sort(midi.begin(), midi.end(), [](const MidiNote& a, const MidiNote& b) {
    return a.nPitch != b.nPitch ? a.nPitch < b.nPitch : a.nOn < b.nOn;
  });
  for (std::size_t i = 0; i < midi.size(); ++i) {
    MidiNote& note = midi[i];
    if (i > 0 && midi[i - 1].nPitch == note.nPitch) {
      MidiNote& previous = midi[i - 1];
      note.nOn = std::max(note.nOn, previous.nOn + 1);
      previous.nOff = std::min(previous.nOff, note.nOn);
    }
    note.nOff = std::max(note.nOff, note.nOn + 1);
  }
  std::vector<MidiEvent> events;
  events.reserve(2 * midi.size());
  for (const MidiNote& note : midi) {
    events.push_back({note.nOn, kNoteOn, note.nPitch, note.nVelocity});
    events.push_back({note.nOff, kNoteOff, note.nPitch, 64});
  }
  std::stable_sort(events.begin(), events.end(), [](const MidiEvent& a, const MidiEvent& b) {
    return a.nTick != b.nTick ? a.nTick < b.nTick : a.nStatus < b.nStatus;
  });
  return events;
}

// libsmf saves only to a named file: a temporary one, read back, so the target itself is
// written by WriteFileReplacing. libsmf reports its own failures through glib's log (on
// standard error) and a nonzero result; the result decides here.
bool SaveToBytes(smf_t* pSmf, std::string& bytes, std::string& reason) {
  std::error_code ec;
  const fs::path folder = fs::temp_directory_path(ec);
  if (ec) {
    reason = "no folder for temporary files: " + ec.message();
    return false;
  }
  std::string name = (folder / "sonavel-midi-XXXXXX").string();
  const int nFd = ::mkstemp(name.data());
  if (nFd < 0) {
    reason = "cannot create a temporary file in " + folder.string() + ": " +
             std::error_code(errno, std::generic_category()).message();
    return false;
  }
  ::close(nFd);
  const bool bSaved = smf_save(pSmf, name.c_str()) == 0;
  std::ifstream in(name, std::ios::binary);
  bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  const bool bRead = !in.bad();
  in.close();
  fs::remove(name, ec);
  if (!bSaved || !bRead || bytes.empty()) {
    reason = "the MIDI library could not save it to " + name;
    return false;
  }
  return true;
}

}  // namespace

bool WriteNotesJson(const fs::path& file, const std::vector<RecognizedNote>& notes,
                    const std::vector<std::string>& names, std::string& error) {
  nlohmann::ordered_json json = nlohmann::ordered_json::array();
  for (const RecognizedNote& note : notes) {
    const bool bNamed = note.nNote >= 0 && static_cast<std::size_t>(note.nNote) < names.size();
    json.push_back({{"onset", Rounded(note.dOnset)},
                    {"offset", Rounded(note.dOffset)},
                    {"midi", note.nNote + kMidiOfIndex},
                    {"name", bNamed ? names[static_cast<std::size_t>(note.nNote)] : ""},
                    {"score", Rounded(note.dScore)}});
  }
  // Names come from a text file and need not be UTF-8: replace what is not.
  const std::string text =
      json.dump(1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + '\n';
  return WriteFileReplacing(file, text, &error);
}

bool WriteNotesMidi(const fs::path& file, const std::vector<RecognizedNote>& notes,
                    std::string& error) {
  const auto fail = [&](const std::string& reason) {
    error = "Could not write " + file.string() + ": " + reason;
    return false;
  };
  for (const RecognizedNote& note : notes) {
    if (note.nNote < 0 || note.nNote >= kNoteCount) {
      return fail("note index " + std::to_string(note.nNote) + " is not one of 0 ... 107");
    }
  }
  const std::unique_ptr<smf_t, decltype(&smf_delete)> smf(smf_new(), &smf_delete);
  if (smf == nullptr || smf_set_format(smf.get(), 0) != 0 ||
      smf_set_ppqn(smf.get(), kTicksPerQuarter) != 0) {
    return fail("the MIDI library could not start a file");
  }
  smf_track_t* pTrack = smf_track_new();
  if (pTrack == nullptr) {
    return fail("the MIDI library could not start a track");
  }
  smf_add_track(smf.get(), pTrack);  // now the file owns the track, and the track its events

  std::vector<unsigned char> tempo(std::begin(kTempoEvent), std::end(kTempoEvent));
  smf_event_t* pTempo = smf_event_new_from_pointer(tempo.data(), static_cast<int>(tempo.size()));
  if (pTempo == nullptr) {
    return fail("the MIDI library refused the tempo");
  }
  smf_track_add_event_pulses(pTrack, pTempo, 0);
  int nLastTick = 0;
  for (const MidiEvent& event : MidiEvents(notes)) {
    smf_event_t* pEvent = smf_event_new_from_bytes(event.nStatus, event.nPitch, event.nVelocity);
    if (pEvent == nullptr) {
      return fail("the MIDI library refused a note");
    }
    smf_track_add_event_pulses(pTrack, pEvent, event.nTick);
    nLastTick = event.nTick;
  }
  if (smf_track_add_eot_pulses(pTrack, nLastTick) != 0) {
    return fail("the MIDI library could not end the track");
  }
  std::string bytes;
  std::string reason;
  if (!SaveToBytes(smf.get(), bytes, reason)) {
    return fail(reason);
  }
  return WriteFileReplacing(file, bytes, &error);
}
