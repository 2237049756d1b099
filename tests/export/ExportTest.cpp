// The note writers read back through libsmf and nlohmann; places that cannot be written.
#include <gtest/gtest.h>
#include <smf.h>
#include <unistd.h>

#include <array>
#include <cmath>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>

#include "export/NoteExport.h"

namespace fs = std::filesystem;

namespace {

using MidiNote = std::array<int, 4>;  // pitch, on and off in ms, velocity

// The notes as libsmf reads them, times from its seconds (so tempo and resolution count); a
// note-off ends the newest open note of its pitch, as a key release does. Any other event fails.
std::vector<MidiNote> ReadMidi(const fs::path& file) {
  const std::unique_ptr<smf_t, decltype(&smf_delete)> smf(smf_load(file.c_str()), &smf_delete);
  std::vector<MidiNote> notes;
  while (smf_event_t* p = smf != nullptr ? smf_get_next_event(smf.get()) : nullptr) {
    if (smf_event_is_metadata(p) != 0) continue;
    const int nStatus = p->midi_buffer[0], nPitch = p->midi_buffer[1];
    const int nMs = static_cast<int>(std::lround(p->time_seconds * 1000.0));
    auto open = notes.rbegin();  // the newest note of this pitch still sounding
    while (open != notes.rend() && ((*open)[0] != nPitch || (*open)[2] >= 0)) ++open;
    if (nStatus == 0x80 && open != notes.rend())
      (*open)[2] = nMs;
    else  // a note-on, or what fails
      notes.push_back(nStatus == 0x90 ? MidiNote{nPitch, nMs, -1, p->midi_buffer[2]}
                                      : MidiNote{-nStatus, nMs, nMs, 0});
  }
  return notes;
}

class ExportTest : public testing::Test {
 protected:
  void SetUp() override { fs::create_directories(m_dir); }
  void TearDown() override { fs::remove_all(m_dir); }
  const fs::path m_dir = fs::temp_directory_path() / ("sonavel-export-" + std::to_string(getpid()));
  std::string m_error;
};

}  // namespace

TEST_F(ExportTest, MidiReadsBackWithTheSameNotesToTheMillisecond) {
  const std::vector<std::pair<RecognizedNote, MidiNote>> cases = {
      {{0.0004, 0.2506, 48, 0.9}, {60, 0, 251, 118}},  // C4 = 60; velocity 40 + 87 x score
      {{0.25, 0.6, 57, 0.5}, {69, 250, 600, 84}},      // legato: begins before C4 ends
      {{1.0, 1.0, 59, 0.0}, {71, 1000, 1001, 40}},     // no length: one tick
      {{1.2, 1.7, 60, 1.0}, {72, 1200, 1500, 127}},    // ends where the next C5 begins
      {{1.5, 2.0, 60, 0.2}, {72, 1500, 2000, 57}}};
  std::vector<RecognizedNote> notes;
  std::vector<MidiNote> expected;
  for (const auto& [note, midi] : cases) notes.push_back(note), expected.push_back(midi);
  ASSERT_TRUE(WriteNotesMidi(m_dir / "notes.mid", notes, m_error)) << m_error;
  EXPECT_EQ(ReadMidi(m_dir / "notes.mid"), expected);
}

TEST_F(ExportTest, JsonParsesWithEveryField) {
  ASSERT_TRUE(WriteNotesJson(m_dir / "n.json", {{0.0004, 0.2506, 1, 0.8766}, {1, 1.25, 57, 1}},
                             {"C0", "C0#"}, m_error));  // no name for note 57
  EXPECT_EQ(nlohmann::json::parse(std::ifstream(m_dir / "n.json")), nlohmann::json::parse(R"([
      {"onset": 0.0, "offset": 0.251, "midi": 13, "name": "C0#", "score": 0.877},
      {"onset": 1.0, "offset": 1.25, "midi": 69, "name": "", "score": 1.0}])"));
}

TEST_F(ExportTest, AnUnwritablePlaceIsReported) {
  std::ofstream(m_dir / "file") << "x";
  const fs::path below = m_dir / "file" / "sub";  // below a file: nothing can be made there
  std::string errors[3];
  EXPECT_FALSE(WriteNotesJson(below / "n.json", {}, {}, errors[0]));
  EXPECT_FALSE(WriteNotesMidi(below / "n.mid", {{0, 1, 48, 1}}, errors[1]));
  EXPECT_FALSE(WritePianoRoll(below, PianoRoll{}, {}, errors[2]));
  const std::string prefix = "Could not write " + below.string() + "/";
  for (const std::string& error : errors) EXPECT_EQ(error.rfind(prefix, 0), 0U) << error;
}
