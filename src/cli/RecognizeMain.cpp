// sonavel-recognize: the notes of a trained instrument in a recording, one line per note.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "cli/RecordingReader.h"
#include "export/NoteExport.h"
#include "recognition/Recognizer.h"
#include "training/NoteTables.h"

namespace {

std::int32_t NoteIndexNamed(const std::string& name) {
  for (std::int32_t k = 0; k < kNoteCount; ++k) {
    if (StandardNoteName(k) == name) {
      return k;
    }
  }
  return -1;
}

int Fail(const std::string& message) {
  std::cerr << "sonavel-recognize: " << message << '\n';
  return 1;
}

}  // namespace

static int Run(int argc, char** argv) {
  CLI::App app{"Recognises the notes of a trained instrument in a recording.", "sonavel-recognize"};
  std::string patternsPath, input, first = "C0", last = "B8";
  app.add_option("--patterns", patternsPath, "pattern file (.dat) written by Sonavel")->required();
  app.add_option("--input", input, "sound file to recognise")->required();
  app.add_option("--first", first, "lowest candidate note (default C0)");
  app.add_option("--last", last, "highest candidate note (default B8)");
  std::string jsonPath;
  app.add_option("--json", jsonPath,
                 "also write the notes as a JSON array of {onset, offset, midi, name, score}");
  CLI11_PARSE(app, argc, argv);

  std::ifstream in(patternsPath, std::ios::binary);
  const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  if (!in.good() && !in.eof()) {
    return Fail("cannot read the pattern file " + patternsPath);
  }
  if (bytes.empty() || bytes.size() % sizeof(NotePattern) != 0 ||
      bytes.size() / sizeof(NotePattern) > static_cast<std::size_t>(kNoteCount)) {
    return Fail(patternsPath + ": " + std::to_string(bytes.size()) +
                " bytes, not 1 to 108 records of 48 bytes");
  }
  std::vector<NotePattern> patterns(bytes.size() / sizeof(NotePattern));
  std::memcpy(patterns.data(), bytes.data(), bytes.size());
  const std::int32_t nFirst = NoteIndexNamed(first), nLast = NoteIndexNamed(last);
  if (nFirst < 0 || nLast < 0 || nFirst > nLast) {
    return Fail("--first/--last: not a range of notes C0 ... B8: " + first + " " + last);
  }
  CRecognizer recognizer(patterns, nFirst, nLast);
  if (!recognizer.HasCandidates()) {
    return Fail(patternsPath + ": no trained note in the range");
  }
  CRecordingReader reader(0);
  std::string error;
  if (!reader.Open(input, error)) {
    return Fail(error);
  }
  std::vector<RecognizedNote> notes;
  const auto print = [&] {
    for (const RecognizedNote& note : recognizer.TakeNotes()) {
      notes.push_back(note);
      std::printf("%.3f %.3f %s %.3f\n", note.dOnset, note.dOffset,
                  StandardNoteName(note.nNote).c_str(), note.dScore);
    }
  };
  while (reader.ReadBuffer()) {
    recognizer.Feed(reader.Buffer().data(), reader.Buffer().size());
    print();
  }
  if (!reader.Error().empty()) {
    return Fail(reader.Error());
  }
  recognizer.Finish();
  print();
  std::vector<std::string> names(kNoteCount);
  for (std::int32_t k = 0; k < kNoteCount; ++k) {
    names[static_cast<std::size_t>(k)] = StandardNoteName(k);
  }
  if (!jsonPath.empty() && !WriteNotesJson(jsonPath, notes, names, error)) {
    return Fail(error);
  }
  return 0;
}

int main(int argc, char** argv) {
  try {
    return Run(argc, argv);
  } catch (const std::exception& e) {
    return Fail(e.what());
  }
}
