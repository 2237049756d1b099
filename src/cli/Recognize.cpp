#include "cli/Recognize.h"

#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "analysis/SampleHistory.h"
#include "capture/ListeningSession.h"
#include "cli/ExitCodes.h"
#include "cli/ListDevices.h"
#include "cli/OptionParsing.h"
#include "cli/RecordingReader.h"
#include "export/NoteExport.h"
#include "files/PatternFiles.h"
#include "recognition/Recognizer.h"
#include "training/FrontEnd.h"
#include "training/NoteTables.h"

#ifndef SONAVEL_VERSION
#define SONAVEL_VERSION "0.0.0"
#endif

namespace fs = std::filesystem;

namespace {

constexpr const char* kProgram = "sonavel-recognize";

struct RecognizeOptions {
  std::string patterns;
  std::string input;
  std::optional<std::string> device;
  std::optional<std::string> noteNames;
  std::optional<std::string> first, last;
  std::optional<std::string> json, midi, plot;
  bool bRealtime = false;
  bool bListDevices = false;
  double dSpeed = 1.0;
};

// The note a --first/--last text names: its standard name ("C4#") or its name in the note
// names file, either case; -1 when none.
std::int32_t NoteNamed(const std::string& text) {
  const std::string wanted = LowerCase(text);
  for (std::int32_t k = 0; k < kNoteCount; ++k) {
    if (LowerCase(StandardNoteName(k)) == wanted || LowerCase(g_szNoteName[k]) == wanted) {
      return k;
    }
  }
  return -1;
}

// Whether `path` can be written: its folder exists and takes files, and an existing file there
// may be written. Nothing is created or changed.
bool CanWriteFile(const std::string& path, std::string& error) {
  std::error_code ec;
  const fs::path file(path);
  const fs::path folder = file.has_parent_path() ? file.parent_path() : fs::path(".");
  const bool bExists = fs::exists(file, ec);
  if (file.filename().empty() || fs::is_directory(file, ec) ||
      (bExists ? ::access(file.c_str(), W_OK) : ::access(folder.c_str(), W_OK | X_OK)) != 0) {
    error = "cannot write " + path +
            (bExists || fs::is_directory(folder, ec) ? ": permission denied or not a file"
                                                     : ": no such folder");
    return false;
  }
  return true;
}

// What the recognised notes become: lines on standard output, and the files asked for.
class CNoteSink {
 public:
  CNoteSink(const RecognizeOptions& options, std::ostream& out, std::vector<std::string> names)
      : m_options(options), m_out(out), m_names(std::move(names)) {}

  bool KeepsNotes() const { return m_options.json || m_options.midi || m_options.plot; }

  void Print(const RecognizedNote& note, bool bOffsetKnown) {
    char szLine[160];
    const std::string& name = m_names[static_cast<std::size_t>(note.nNote)];
    if (bOffsetKnown) {
      std::snprintf(szLine, sizeof szLine, "%.3f %.3f %s %.3f\n", note.dOnset, note.dOffset,
                    name.c_str(), note.dScore);
    } else {
      std::snprintf(szLine, sizeof szLine, "%.3f - %s %.3f\n", note.dOnset, name.c_str(),
                    note.dScore);
    }
    m_out << szLine << std::flush;
  }

  void Keep(const std::vector<RecognizedNote>& notes) {
    if (KeepsNotes()) {
      m_notes.insert(m_notes.end(), notes.begin(), notes.end());
    }
  }

  // The sound's energy for the picture: the RMS of every 512 samples, whatever the buffers.
  void AddBuffer(const std::int16_t* pSamples, std::size_t nCount) {
    if (!m_options.plot) {
      return;
    }
    for (std::size_t n = 0; n < nCount; ++n) {
      m_dSquares += static_cast<double>(pSamples[n]) * pSamples[n];
      if (++m_nSquares == static_cast<std::size_t>(kBufferLen)) {
        m_energy.push_back(static_cast<float>(std::sqrt(m_dSquares / kBufferLen)));
        m_dSquares = 0.0;
        m_nSquares = 0;
      }
    }
  }

  bool WriteFiles(double dSeconds, const std::vector<std::int32_t>& candidates, std::ostream& err) {
    for (RecognizedNote& note : m_notes) {
      note.dOffset = std::min(note.dOffset, std::max(dSeconds, note.dOnset));
    }
    std::string error;
    bool bOk = true;
    const auto report = [&](bool bWritten) {
      if (!bWritten) {
        err << kProgram << ": " << error << '\n';
        bOk = false;
      }
    };
    if (m_options.json) {
      report(WriteNotesJson(*m_options.json, m_notes, m_names, error));
    }
    if (m_options.midi) {
      report(WriteNotesMidi(*m_options.midi, m_notes, error));
    }
    if (m_options.plot) {
      PianoRoll roll;
      roll.notes = m_notes;
      roll.trainedNotes = candidates;
      roll.energy = m_energy;
      roll.dEnergyStep = static_cast<double>(kBufferLen) / kSampleRateHz;
      roll.dSeconds = dSeconds;
      roll.title = m_options.device ? "device " + *m_options.device : m_options.input;
      report(WritePianoRoll(*m_options.plot, roll, m_names, error));
    }
    return bOk;
  }

 private:
  const RecognizeOptions& m_options;
  std::ostream& m_out;
  std::vector<std::string> m_names;
  std::vector<RecognizedNote> m_notes;
  std::vector<float> m_energy;
  double m_dSquares = 0.0;  // of the samples since the last energy value
  std::size_t m_nSquares = 0;
};

// Device failures reported by the recorder, from either thread.
class CErrorMessages final : public CMessageBoxService {
 public:
  explicit CErrorMessages(std::ostream& err) : m_err(err) {}
  void ShowMessage(const char* pszText) override {
    const std::lock_guard lock(m_mutex);
    m_err << kProgram << ": " << pszText << '\n' << std::flush;
    m_bFailed = true;
  }
  bool Failed() const { return m_bFailed.load(); }

 private:
  std::ostream& m_err;
  std::mutex m_mutex;
  std::atomic<bool> m_bFailed{false};
};

std::optional<int> ParseOptions(int argc, const char* const* argv, RecognizeOptions& options,
                                std::ostream& out, std::ostream& err) {
  CLI::App app{"Recognises the notes of a trained instrument in a recording or live.", kProgram};
  app.add_option("--patterns", options.patterns, "pattern file (.dat) written by Sonavel");
  app.add_option("--input", options.input, "sound file to recognise");
  app.add_option("--device", options.device,
                 "listen to this input device until Ctrl+C (index or part of its name; see "
                 "--list-devices)");
  app.add_flag("--realtime", options.bRealtime,
               "play the --input file through the recorder at its own pace, as live input");
  app.add_option("--speed", options.dSpeed,
                 "with --realtime: play the file this many times faster (default 1)")
      ->check(CLI::Range(0.1, 100.0));
  app.add_option("--note-names", options.noteNames, "note_symbol.txt to use");
  app.add_option("--first", options.first, "lowest candidate note (default C0)");
  app.add_option("--last", options.last, "highest candidate note (default B8)");
  app.add_option("--json", options.json,
                 "also write the notes as a JSON array of {onset, offset, midi, name, score}");
  app.add_option("--midi", options.midi, "also write the notes as a Standard MIDI File");
  app.add_option("--plot", options.plot,
                 "folder for a piano-roll picture of the notes (SVG) and an index.html");
  app.add_flag("--list-devices", options.bListDevices, "list the sound input devices and exit");
  return ParseCommandLine(app, argc, argv, kProgram, SONAVEL_VERSION, out, err);
}

// How long after their onsets the notes were shown: the live delay, in 10 ms steps.
class CDelays {
 public:
  void Add(double dSeconds) {
    const auto nStep = static_cast<std::size_t>(std::clamp(dSeconds * 100.0, 0.0, 999.0));
    ++m_counts[nStep];
    ++m_nCount;
  }
  // "N notes shown a median of X ms, 95 % within Y ms, at most Z ms after their onsets", or
  // "" without notes.
  std::string Summary() const {
    if (m_nCount == 0) {
      return "";
    }
    // The step in which the note of rank `nRank` (1 = the quickest) lies.
    const auto step = [this](std::size_t nRank) {
      std::size_t nSeen = 0, k = 0;
      while (nSeen + m_counts[k] < nRank) {
        nSeen += m_counts[k++];
      }
      return k;
    };
    const auto ms = [](std::size_t nStep) { return std::to_string(nStep * 10 + 10) + " ms"; };
    return std::to_string(m_nCount) + " notes shown a median of " + ms(step((m_nCount + 1) / 2)) +
           ", 95 % within " + ms(step((m_nCount * 95 + 99) / 100)) + ", at most " +
           ms(step(m_nCount)) + " after their onsets";
  }

 private:
  std::array<std::size_t, 1000> m_counts{};
  std::size_t m_nCount = 0;
};

// Live input: a listening session, each note printed as soon as it is named. Ends at the
// file's end, at Ctrl+C or when capture fails; `dSeconds` is the sound heard.
int RunLive(const ListeningInput& input, const std::vector<NotePattern>& patterns,
            std::int32_t nFirst, std::int32_t nLast, CNoteSink& sink,
            const std::atomic<bool>* pbInterrupted, std::ostream& err, double& dSeconds) {
  CErrorMessages messages(err);
  SetMessageBoxService(&messages);
  CDelays delays;
  std::atomic<bool> bEnded{false};
  // The callbacks run on the session's worker; this thread only waits until Stop has joined it.
  ListeningListener listener;
  listener.noteStarted = [&](const HeardNote& heard) {
    sink.Print(heard.note, false);
    const std::chrono::duration<double> late = std::chrono::steady_clock::now() - heard.heardAt;
    delays.Add(late.count() * input.dSpeed);
  };
  listener.noteEnded = [&sink](const RecognizedNote& note) { sink.Keep({note}); };
  listener.buffer = [&sink](const std::int16_t* pSamples, std::size_t nCount) {
    sink.AddBuffer(pSamples, nCount);
  };
  listener.inputEnded = [&bEnded] { bEnded = true; };
  CListeningSession session(patterns, std::move(listener), nFirst, nLast);
  std::string error;
  int nCode = 0;
  if (!session.Start(input, error) || messages.Failed()) {
    if (!error.empty()) {
      err << kProgram << ": " << error << '\n';
    }
    nCode = kExitBadInput;
  }
  while (nCode == 0 && !bEnded.load()) {
    if (pbInterrupted != nullptr && pbInterrupted->load()) {
      nCode = input.file.empty() ? 0 : kExitInterrupted;
    } else if (messages.Failed()) {
      nCode = kExitBadInput;
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
  session.Stop();  // the sounding note ends and is kept
  SetMessageBoxService(nullptr);
  if (!session.ReadError().empty()) {
    err << kProgram << ": " << session.ReadError() << '\n';
    nCode = kExitBadInput;
  }
  if (session.Dropped() > 0) {
    err << kProgram << ": " << session.Dropped()
        << " buffers were lost (the machine was too busy)\n";
  }
  if (const std::string summary = delays.Summary(); !summary.empty()) {
    err << kProgram << ": " << summary << '\n';
  }
  dSeconds = session.Position();
  return nCode;
}

}  // namespace

int RunRecognizer(int argc, const char* const* argv, std::ostream& out, std::ostream& err,
                  const std::atomic<bool>* pbInterrupted) {
  RecognizeOptions options;
  if (const std::optional<int> nCode = ParseOptions(argc, argv, options, out, err)) {
    return *nCode;
  }
  const auto fail = [&err](const std::string& message, int nCode = kExitBadInput) {
    err << kProgram << ": " << message << '\n';
    return nCode;
  };
  if (options.bListDevices) {
    return ListDevices(out, err);
  }
  if (options.patterns.empty()) {
    return fail("--patterns is required: the pattern file (.dat) of the trained instrument");
  }
  if (options.input.empty() == !options.device.has_value()) {
    return fail(options.device ? "--input and --device exclude each other"
                               : "--input is required (or --device to listen live)");
  }
  if (options.bRealtime && options.device) {
    return fail("--realtime plays an --input file; a --device is always live");
  }
  std::string error;
  if (!LoadNoteNames(options.noteNames, error)) {
    return fail(error);
  }
  std::vector<std::string> names;
  names.reserve(kNoteCount);
  for (std::int32_t k = 0; k < kNoteCount; ++k) {
    names.emplace_back(g_szNoteName[k]);
  }
  const std::int32_t nFirst = options.first ? NoteNamed(*options.first) : 0;
  const std::int32_t nLast = options.last ? NoteNamed(*options.last) : kNoteCount - 1;
  if (nFirst < 0 || nLast < 0 || nFirst > nLast) {
    return fail("--first " + options.first.value_or("C0") + " --last " +
                    options.last.value_or("B8") + ": not a range of notes from C0 to B8",
                kExitBadRange);
  }
  std::vector<NotePattern> patterns;
  if (!ReadPatternFile(options.patterns, patterns, error)) {
    return fail(error);
  }
  const std::vector<std::int32_t> candidates = CRecognizer::CandidateNotes(patterns, nFirst, nLast);
  if (candidates.empty()) {
    return fail("the pattern file " + options.patterns + " has no trained note from " +
                names[static_cast<std::size_t>(nFirst)] + " to " +
                names[static_cast<std::size_t>(nLast)]);
  }

  // The outputs before the sound: a long session must not end in a file that cannot be written.
  if (options.plot && !PrepareOutputFolder(*options.plot, error)) {
    return fail(error);
  }
  for (const std::optional<std::string>& file : {options.json, options.midi}) {
    if (file && !CanWriteFile(*file, error)) {
      return fail(error);
    }
  }

  CNoteSink sink(options, out, names);
  double dSeconds = 0.0;
  int nCode = 0;
  if (options.device || options.bRealtime) {
    const ListeningInput input{options.device ? std::string() : options.input,
                               options.device.value_or(""), options.dSpeed};
    nCode = RunLive(input, patterns, nFirst, nLast, sink, pbInterrupted, err, dSeconds);
  } else {
    CRecordingReader reader(kRecognizerTailSamples);
    if (!reader.Open(options.input, error)) {
      return fail(error);
    }
    CRecognizer recognizer(patterns, nFirst, nLast);
    std::uint64_t nBuffers = 0;
    const auto take = [&] {
      const std::vector<RecognizedNote> notes = recognizer.TakeNotes();
      for (const RecognizedNote& note : notes) {
        sink.Print(note, true);
      }
      sink.Keep(notes);
    };
    while (reader.ReadBuffer()) {
      if (pbInterrupted != nullptr && pbInterrupted->load()) {
        nCode = kExitInterrupted;
        break;
      }
      recognizer.Feed(reader.Buffer().data(), reader.Buffer().size());
      sink.AddBuffer(reader.Buffer().data(), reader.Buffer().size());
      take();
      ++nBuffers;
    }
    if (!reader.Error().empty()) {
      err << kProgram << ": " << reader.Error() << '\n';
      nCode = kExitBadInput;
    }
    recognizer.Finish();
    take();
    // The file's own length: neither the silence after it nor a partial last buffer.
    const std::int64_t nFileSamples =
        std::max<std::int64_t>(0, reader.ExpectedSamples() - kRecognizerTailSamples);
    dSeconds = static_cast<double>(
                   std::min(static_cast<std::int64_t>(nBuffers * kBufferLen), nFileSamples)) /
               kSampleRateHz;
  }
  if (nCode == kExitInterrupted) {
    err << kProgram << ": interrupted; the notes so far are written\n";
  }
  if (!sink.WriteFiles(dSeconds, candidates, err) && nCode == 0) {
    nCode = kExitBadInput;
  }
  return nCode;
}
