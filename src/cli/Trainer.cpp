#include "cli/Trainer.h"

#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <array>
#include <bit>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <limits>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <ostream>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "analysis/SampleHistory.h"
#include "analysis/SegmentDetector.h"
#include "capture/PortAudioDevice.h"
#include "capture/SoundFileDevice.h"
#include "capture/SoundFileReader.h"
#include "capture/WaveInRecorder.h"
#include "cli/PlotWriter.h"
#include "files/PatternFiles.h"
#include "training/FrontEnd.h"
#include "training/NoteTables.h"
#include "training/PatternConfirmation.h"
#include "training/RangeValidation.h"
#include "training/TrainingController.h"

#ifndef SONAVEL_VERSION
#define SONAVEL_VERSION "0.0.0"
#endif

namespace fs = std::filesystem;

namespace {

// Virtual time in units of 1/110250 s: a buffer lasts 5120 units, a timer tick 11025.
constexpr std::int64_t kUnitsPerSecond = 110250;
constexpr std::int64_t kUnitsPerBuffer = 5120;
constexpr std::int64_t kUnitsPerTick = 11025;
constexpr double kMaxSeconds = 86400.0;  // longest --pad or --think accepted
constexpr int kExitBadInput = 1;
constexpr int kExitBadRange = 2;
constexpr int kExitInterrupted = 130;

struct TrainerOptions {
  std::string input;
  std::optional<std::string> first;
  std::optional<std::string> last;
  std::string choices;
  std::string outDir = ".";
  std::optional<std::string> noteNames;
  std::string pad = "1.0";
  std::string think = "0";
  std::optional<std::string> trace;
  std::optional<std::string> plotDir;
  std::optional<std::string> show;
  bool bRealtime = false;
  std::optional<std::string> device;
  bool bListDevices = false;
  double dSpeed = 1.0;
};

// A number of seconds: finite, not negative, at most a day.
bool ParseSeconds(const std::string& text, double& dSeconds) {
  if (text.empty()) {
    return false;
  }
  std::size_t nUsed = 0;
  try {
    dSeconds = std::stod(text, &nUsed);
  } catch (const std::exception&) {
    return false;
  }
  while (nUsed < text.size() && (text[nUsed] == ' ' || text[nUsed] == '\t')) {
    ++nUsed;
  }
  return nUsed == text.size() && std::isfinite(dSeconds) && dSeconds >= 0.0 &&
         dSeconds <= kMaxSeconds;
}

// The dialog answers: N, R, B, D or X, comma-separated, either case, blanks ignored.
bool ParseChoices(const std::string& list, std::vector<NoteChoice>& choices, std::string& error) {
  std::string item;
  const auto flush = [&]() {
    if (item.empty()) {
      return true;
    }
    const char ch = item.size() == 1 ? static_cast<char>(item[0] & ~0x20) : '\0';
    switch (ch) {
      case 'N':
        choices.push_back(NoteChoice::Next);
        break;
      case 'R':
        choices.push_back(NoteChoice::Replay);
        break;
      case 'B':
        choices.push_back(NoteChoice::Back);
        break;
      case 'D':
        choices.push_back(NoteChoice::Done);
        break;
      case 'X':
        choices.push_back(NoteChoice::Closed);
        break;
      default:
        error = "--choices: '" + item + "' is not one of N, R, B, D, X";
        return false;
    }
    item.clear();
    return true;
  };
  for (const char ch : list) {
    if (ch == ',') {
      if (!flush()) {
        return false;
      }
    } else if (ch != ' ' && ch != '\t') {
      item += ch;
    }
  }
  return flush();
}

char ChoiceLetter(NoteChoice choice) {
  switch (choice) {
    case NoteChoice::Next:
      return 'N';
    case NoteChoice::Replay:
      return 'R';
    case NoteChoice::Back:
      return 'B';
    case NoteChoice::Done:
      return 'D';
    case NoteChoice::Closed:
      return 'X';
  }
  return 'N';
}

// How the index of --plot names an answer.
std::string ChoiceText(NoteChoice choice) {
  switch (choice) {
    case NoteChoice::Next:
      return "N (Next)";
    case NoteChoice::Replay:
      return "R (Replay)";
    case NoteChoice::Back:
      return "B (Back)";
    case NoteChoice::Done:
      return "D (Done)";
    case NoteChoice::Closed:
      return "X (closed)";
  }
  return "N (Next)";
}

// Whether files can be created in `folder` (created when missing).
bool PrepareOutputFolder(const fs::path& folder, std::string& error) {
  std::error_code ec;
  fs::create_directories(folder, ec);
  if (ec) {
    error = "cannot create the output folder " + folder.string() + ": " + ec.message();
    return false;
  }
  if (!fs::is_directory(folder, ec)) {
    error = "the output folder " + folder.string() + " is not a folder";
    return false;
  }
  const fs::path probe = folder / (".sonavel-train-probe-" + std::to_string(::getpid()));
  std::FILE* pFile = std::fopen(probe.c_str(), "wbx");
  if (pFile == nullptr) {
    error = "cannot write into the output folder " + folder.string() + ": " +
            std::error_code(errno, std::generic_category()).message();
    return false;
  }
  std::fclose(pFile);
  fs::remove(probe, ec);
  return true;
}

bool LoadNames(const TrainerOptions& options, std::string& error) {
  std::optional<fs::path> path;
  if (options.noteNames) {
    path = *options.noteNames;
  } else if (std::error_code ec; fs::exists("note_symbol.txt", ec)) {
    path = "note_symbol.txt";
  }
  if (!path) {
    for (int k = 0; k < kNoteCount; ++k) {
      CopyText(g_szNoteName[k], StandardNoteName(k).c_str());
    }
    return true;
  }
  std::error_code ec;
  std::ifstream probe(*path, std::ios::binary);
  if (!probe || fs::is_directory(*path, ec)) {
    error = "cannot read the note names file " + path->string();
    return false;
  }
  probe.close();
  if (!LoadNoteNamesFrom(path->string())) {
    error = "cannot read the note names file " + path->string();
    return false;
  }
  return true;
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
  line["choice"] = std::string(1, ChoiceLetter(choice));
  trace << line.dump() << '\n' << std::flush;
}

// The run: a stream of buffers and timer ticks in virtual time, and the scripted answers
// to the note pattern dialog.
class CVirtualRun final : public CNotePatternPrompt {
 public:
  CVirtualRun(CSoundFileReader& reader, std::int64_t nPadSamples, std::int64_t nThinkUnits,
              std::vector<NoteChoice> choices, std::ostream* pTrace, CPlotWriter* pPlot,
              std::ostream& err, const std::atomic<bool>* pbInterrupted)
      : m_reader(reader),
        m_nPadLeft(nPadSamples),
        m_nThinkUnits(nThinkUnits),
        m_choices(std::move(choices)),
        m_pTrace(pTrace),
        m_pPlot(pPlot),
        m_err(err),
        m_pbInterrupted(pbInterrupted),
        m_nExpectedSamples(reader.ExpectedSamples() + nPadSamples) {
    // Progress only for a person watching the program's own terminal.
    m_bProgress = &err == &std::cerr && ::isatty(STDERR_FILENO) != 0;
  }

  // Dispatches every event; false when interrupted.
  bool Run() {
    while (NextEvent()) {
      if (Interrupted()) {
        return false;
      }
      Dispatch();
      ShowProgress();
    }
    ClearProgress();
    return !Interrupted();
  }

  NoteChoice AskNoteChoice(const NotePattern& pattern) override {
    // The dialog stays open for the think time: what falls before its end is dispatched
    // inside it (buffers are dropped, ticks find a note being handled).
    const std::int64_t nDeadline = m_nPassTime + m_nThinkUnits;
    while (NextEvent() && m_nNextTime < nDeadline && !Interrupted()) {
      Dispatch();
    }
    const NoteChoice choice =
        m_nDialogs < m_choices.size() ? m_choices[m_nDialogs] : NoteChoice::Next;
    ++m_nDialogs;
    if (m_pTrace != nullptr) {
      WriteTraceLine(*m_pTrace, m_nDialogs, m_nPassTime / kUnitsPerTick, pattern, choice);
    }
    if (m_pPlot != nullptr) {
      m_pPlot->WriteDialog(m_nDialogs, pattern, ChoiceText(choice));
    }
    return choice;
  }

 private:
  bool Interrupted() const { return m_pbInterrupted != nullptr && m_pbInterrupted->load(); }

  // Fetches the next full buffer, unless one is waiting; the file's samples, then padding.
  void PeekBuffer() {
    if (m_bHaveBuffer || m_bExhausted) {
      return;
    }
    std::size_t nGot = m_reader.Read(m_buffer.data(), m_buffer.size());
    while (nGot < m_buffer.size() && m_nPadLeft > 0) {
      m_buffer[nGot++] = 0;
      --m_nPadLeft;
    }
    if (nGot < m_buffer.size()) {
      m_bExhausted = true;  // a final partial buffer is never delivered
      return;
    }
    m_bHaveBuffer = true;
  }

  // Time and kind of the next event; false when the run is over: after the first tick at or
  // after the last buffer's completion (no tick at all without a buffer).
  bool NextEvent() {
    if (m_bFinalTickDone) {
      return false;
    }
    PeekBuffer();
    const std::int64_t nTickTime = m_nTick * kUnitsPerTick;
    if (m_bHaveBuffer) {
      const std::int64_t nBufferTime = (m_nBuffers + 1) * kUnitsPerBuffer;
      m_bNextIsBuffer = nBufferTime <= nTickTime;
      m_nNextTime = m_bNextIsBuffer ? nBufferTime : nTickTime;
      return true;
    }
    if (m_nBuffers == 0) {
      return false;
    }
    m_bNextIsBuffer = false;
    m_nNextTime = nTickTime;
    return true;
  }

  void Dispatch() {
    if (m_bNextIsBuffer) {
      ProcessBuffer(m_buffer.data());
      m_bHaveBuffer = false;
      ++m_nBuffers;
      return;
    }
    ++m_nTick;
    if (!m_bHaveBuffer) {
      m_bFinalTickDone = true;
    }
    if (m_nDepth == 0) {
      m_nPassTime = m_nNextTime;
    }
    ++m_nDepth;
    TrainingTimerPass();
    --m_nDepth;
  }

  void ShowProgress() {
    if (!m_bProgress || (m_nBuffers & 63) != 0 || !m_bNextIsBuffer) {
      return;
    }
    const auto now = std::chrono::steady_clock::now();
    if (now - m_lastProgress < std::chrono::milliseconds(200)) {
      return;
    }
    m_lastProgress = now;
    const double dDone = static_cast<double>(m_nBuffers * kBufferLen) / kSampleRateHz;
    const double dTotal = static_cast<double>(m_nExpectedSamples) / kSampleRateHz;
    char szLine[96];
    std::snprintf(szLine, sizeof szLine, "\rsonavel-train: %.1f s of %.1f s (%d%%)", dDone, dTotal,
                  dTotal > 0.0 ? static_cast<int>(std::min(100.0, 100.0 * dDone / dTotal)) : 100);
    m_err << szLine << std::flush;
    m_bProgressShown = true;
  }

  void ClearProgress() {
    if (m_bProgressShown) {
      m_err << "\r\033[K" << std::flush;
    }
  }

  CSoundFileReader& m_reader;
  std::int64_t m_nPadLeft;     // padding samples still to deliver
  std::int64_t m_nThinkUnits;  // how long each dialog stays open
  std::vector<NoteChoice> m_choices;
  std::size_t m_nDialogs = 0;  // dialogs answered so far
  std::ostream* m_pTrace;
  CPlotWriter* m_pPlot;  // --plot, or null
  std::ostream& m_err;
  const std::atomic<bool>* m_pbInterrupted;

  std::array<std::int16_t, kBufferLen> m_buffer{};
  bool m_bHaveBuffer = false;   // m_buffer holds the next buffer
  bool m_bExhausted = false;    // no full buffer will come any more
  std::int64_t m_nBuffers = 0;  // buffers delivered
  std::int64_t m_nTick = 1;     // next timer tick
  bool m_bFinalTickDone = false;
  bool m_bNextIsBuffer = false;
  std::int64_t m_nNextTime = 0;
  std::int64_t m_nPassTime = 0;  // time of the tick whose pass is running
  int m_nDepth = 0;              // ticks being dispatched, nested inside a dialog

  bool m_bProgress = false;
  bool m_bProgressShown = false;
  std::int64_t m_nExpectedSamples;
  std::chrono::steady_clock::time_point m_lastProgress{};
};

// The run through the recorder, as the desktop program runs it: a capture device delivers
// buffers on its own thread, and a 100 ms timer on this thread runs the controller.
class CLiveRun final : public CNotePatternPrompt, public CMessageBoxService {
 public:
  CLiveRun(CWaveInDevice& device, CSoundFileDevice* pFileDevice, double dThinkSeconds,
           double dSpeed, std::vector<NoteChoice> choices, std::ostream* pTrace, CPlotWriter* pPlot,
           std::ostream& err, const std::atomic<bool>* pbInterrupted)
      : m_device(device),
        m_pFileDevice(pFileDevice),
        m_tickPeriod(std::chrono::duration<double>(0.1 / dSpeed)),
        m_think(std::chrono::duration<double>(dThinkSeconds / dSpeed)),
        m_choices(std::move(choices)),
        m_pTrace(pTrace),
        m_pPlot(pPlot),
        m_err(err),
        m_pbInterrupted(pbInterrupted) {}

  // Returns the exit code: 0 done, 1 capture failed, 130 interrupted.
  int Run() {
    g_recorder.SetDevice(&m_device);
    SetMessageBoxService(this);
    SetNotePatternPrompt(this);
    AcknowledgeCaution();
    int nCode = g_recorder.Start() != 0 || m_bCaptureFailed.load() ? kExitBadInput : 0;
    const Clock::time_point start = Clock::now();
    for (std::int64_t nTick = 1; nCode == 0;) {
      if (!SleepUntil(start + Scaled(nTick))) {
        nCode = kExitInterrupted;
        break;
      }
      // The last tick is the first one after the file's last buffer was processed.
      const bool bLastTick = m_pFileDevice != nullptr && m_pFileDevice->Finished() &&
                             g_recorder.BuffersProcessed() >= m_pFileDevice->BuffersPushed();
      m_nPassTick = nTick;
      TrainingTimerPass();
      if (bLastTick || (m_pFileDevice == nullptr && g_nRunState == 3)) {
        break;
      }
      if (m_bCaptureFailed.load()) {
        nCode = kExitBadInput;
        break;
      }
      // Ticks missed while a dialog was open are not made up, as with a window's timer.
      const auto elapsed = Clock::now() - start;
      nTick = std::max(nTick + 1, static_cast<std::int64_t>(elapsed / m_tickPeriod) + 1);
    }
    g_recorder.Stop();
    g_recorder.SetDevice(nullptr);
    SetNotePatternPrompt(nullptr);
    SetMessageBoxService(nullptr);
    if (nCode == 0 && Interrupted()) {
      nCode = kExitInterrupted;
    }
    return nCode;
  }

  NoteChoice AskNoteChoice(const NotePattern& pattern) override {
    SleepUntil(Clock::now() + std::chrono::duration_cast<Clock::duration>(m_think));
    const NoteChoice choice =
        m_nDialogs < m_choices.size() ? m_choices[m_nDialogs] : NoteChoice::Next;
    ++m_nDialogs;
    if (m_pTrace != nullptr) {
      WriteTraceLine(*m_pTrace, m_nDialogs, m_nPassTick, pattern, choice);
    }
    if (m_pPlot != nullptr) {
      m_pPlot->WriteDialog(m_nDialogs, pattern, ChoiceText(choice));
    }
    return choice;
  }

  // Device failures, from this thread or the capture thread.
  void ShowMessage(const char* pszText) override {
    const std::lock_guard lock(m_errMutex);
    m_err << "sonavel-train: " << pszText << '\n' << std::flush;
    m_bCaptureFailed = true;
  }

 private:
  using Clock = std::chrono::steady_clock;

  bool Interrupted() const { return m_pbInterrupted != nullptr && m_pbInterrupted->load(); }

  Clock::duration Scaled(std::int64_t nTicks) const {
    return std::chrono::duration_cast<Clock::duration>(m_tickPeriod * static_cast<double>(nTicks));
  }

  // Sleeps in short steps so that Ctrl+C is noticed; false when interrupted.
  bool SleepUntil(Clock::time_point until) const {
    while (Clock::now() < until) {
      if (Interrupted()) {
        return false;
      }
      std::this_thread::sleep_for(
          std::min<Clock::duration>(until - Clock::now(), std::chrono::milliseconds(20)));
    }
    return !Interrupted();
  }

  CWaveInDevice& m_device;
  CSoundFileDevice* m_pFileDevice;  // the file device, when capture comes from a file
  std::chrono::duration<double> m_tickPeriod;
  std::chrono::duration<double> m_think;
  std::vector<NoteChoice> m_choices;
  std::size_t m_nDialogs = 0;
  std::ostream* m_pTrace;
  CPlotWriter* m_pPlot;  // --plot, or null
  std::ostream& m_err;
  std::mutex m_errMutex;
  const std::atomic<bool>* m_pbInterrupted;
  std::atomic<bool> m_bCaptureFailed{false};
  std::int64_t m_nPassTick = 0;
};

// The log as the log view shows it: lines 0 ... current, trailing empty lines left out.
void PrintLog(std::ostream& out) {
  std::int32_t nLast = g_nLogLine;
  while (nLast >= 0 && g_szLog[nLast][0] == '\0') {
    --nLast;
  }
  for (std::int32_t k = 0; k <= nLast; ++k) {
    out << g_szLog[k] << '\n';
  }
  out << std::flush;
}

// --list-devices: PortAudio's input devices, the default marked with '*'.
int ListDevices(std::ostream& out, std::ostream& err) {
  std::string error;
  const std::vector<PortAudioInput> inputs = ListPortAudioInputs(error);
  if (!error.empty()) {
    err << "sonavel-train: " << error << '\n';
    return kExitBadInput;
  }
  if (inputs.empty()) {
    err << "sonavel-train: no sound input device\n";
  }
  for (const PortAudioInput& input : inputs) {
    out << (input.bDefault ? '*' : ' ') << ' ' << input.nIndex << ": " << input.name << " ("
        << input.hostApi << ", " << input.nMaxChannels << " channels, "
        << static_cast<long>(input.dDefaultRate) << " Hz)\n";
  }
  return 0;
}

// --show: the records of a binary pattern file as the text listing, with the note names in
// use. A size that is not a whole number of records, or more records than notes, is an
// error, reported after the whole records were printed.
int ShowPatternFile(const TrainerOptions& options, std::ostream& out, std::ostream& err) {
  std::string error;
  if (!LoadNames(options, error)) {
    err << "sonavel-train: " << error << '\n';
    return kExitBadInput;
  }
  const fs::path path(*options.show);
  std::error_code ec;
  std::ifstream in(path, std::ios::binary);
  if (!in || fs::is_directory(path, ec)) {
    err << "sonavel-train: cannot read the pattern file " << path.string() << '\n';
    return kExitBadInput;
  }
  const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  if (in.bad()) {
    err << "sonavel-train: cannot read the pattern file " << path.string() << '\n';
    return kExitBadInput;
  }
  constexpr std::size_t kRecordSize = sizeof(NotePattern);
  const std::size_t nWhole = bytes.size() / kRecordSize;
  const std::size_t nShown = std::min<std::size_t>(nWhole, kNoteCount);
  // The records go through the pattern store so that the listing is the one written at exit.
  for (std::size_t i = 0; i < nShown; ++i) {
    float fValues[2 * kPeakCount];
    for (std::size_t k = 0; k < 2 * kPeakCount; ++k) {
      std::uint32_t nBits = 0;
      for (std::size_t b = 0; b < 4; ++b) {
        nBits |= static_cast<std::uint32_t>(
                     static_cast<unsigned char>(bytes[i * kRecordSize + k * 4 + b]))
                 << (8 * b);
      }
      fValues[k] = std::bit_cast<float>(nBits);
    }
    std::copy_n(fValues, kPeakCount, g_fPattern[i].fBin);
    std::copy_n(fValues + kPeakCount, kPeakCount, g_fPattern[i].fWeight);
  }
  const std::string text = FormatPatternText();
  std::size_t nCut = 0;
  for (std::size_t nLines = 0; nLines < 3 * nShown; ++nLines) {
    nCut = text.find('\n', nCut) + 1;
  }
  out << text.substr(0, nCut) << std::flush;
  int nCode = 0;
  if (bytes.size() % kRecordSize != 0) {
    err << "sonavel-train: " << path.string() << " is " << bytes.size()
        << " bytes, not a multiple of " << kRecordSize << " (" << nWhole << " whole records and "
        << bytes.size() % kRecordSize << " bytes left over)\n";
    nCode = kExitBadInput;
  }
  if (nWhole > static_cast<std::size_t>(kNoteCount)) {
    err << "sonavel-train: " << path.string() << " holds " << nWhole << " records, more than the "
        << kNoteCount << " notes; only the first " << kNoteCount << " are shown\n";
    nCode = kExitBadInput;
  }
  return nCode;
}

}  // namespace

int RunTrainer(int argc, const char* const* argv, std::ostream& out, std::ostream& err,
               const std::atomic<bool>* pbInterrupted) {
  TrainerOptions options;
  CLI::App app{
      "Trains note patterns from a recorded sound file, as the desktop program does "
      "from the sound card.",
      "sonavel-train"};
  app.set_version_flag("--version", std::string("sonavel-train ") + SONAVEL_VERSION);
  app.add_option("--input", options.input, "sound file to train from");
  app.add_option("--first", options.first, "first note of the range (default C1)");
  app.add_option("--last", options.last, "last note of the range (default C6)");
  app.add_option("--choices", options.choices,
                 "answers to the note pattern dialogs, e.g. N,R,B,D,X (then N)");
  app.add_option("--out", options.outDir, "folder for default_pattern.txt/.dat (default .)");
  app.add_option("--note-names", options.noteNames, "note_symbol.txt to use");
  app.add_option("--pad", options.pad, "seconds of silence after the sound (default 1.0)");
  app.add_option("--think", options.think,
                 "seconds each note pattern dialog stays open (default 0)");
  app.add_option("--trace", options.trace, "JSON Lines file, one object per dialog");
  app.add_option("--plot", options.plotDir,
                 "folder for one SVG picture per note pattern dialog and an index.html");
  app.add_option("--show", options.show,
                 "print a binary pattern file (.dat) as the text listing and exit");
  app.add_flag("--realtime", options.bRealtime,
               "play the file through the recorder in real time instead of virtual time");
  app.add_option("--device", options.device,
                 "train live from this input device (index or part of its name; "
                 "see --list-devices) instead of a file");
  app.add_flag("--list-devices", options.bListDevices, "list the sound input devices and exit");
  app.add_option("--speed", options.dSpeed,
                 "with --realtime: play the file this many times faster (default 1)")
      ->check(CLI::Range(0.1, 100.0));

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    out << app.help();
    return 0;
  } catch (const CLI::CallForVersion&) {
    out << "sonavel-train " << SONAVEL_VERSION << '\n';
    return 0;
  } catch (const CLI::ParseError& e) {
    err << "sonavel-train: " << e.what() << "\nRun with --help for more information.\n";
    return kExitBadInput;
  }

  const auto fail = [&err](const std::string& message) {
    err << "sonavel-train: " << message << '\n';
    return kExitBadInput;
  };

  if (options.bListDevices) {
    return ListDevices(out, err);
  }
  if (options.show) {
    return ShowPatternFile(options, out, err);
  }
  if (options.input.empty() == !options.device.has_value()) {
    return fail(options.device ? "--input and --device exclude each other"
                               : "--input is required (or --device to train live)");
  }

  double dPad = 0.0;
  if (!ParseSeconds(options.pad, dPad)) {
    return fail("--pad takes a number of seconds from 0 to 86400, not '" + options.pad + "'");
  }
  double dThink = 0.0;
  if (!ParseSeconds(options.think, dThink)) {
    return fail("--think takes a number of seconds from 0 to 86400, not '" + options.think + "'");
  }
  std::vector<NoteChoice> choices;
  std::string error;
  if (!ParseChoices(options.choices, choices, error)) {
    return fail(error);
  }

  ResetForNewRun();
  if (!LoadNames(options, error)) {
    return fail(error);
  }

  // The range, as the range dialog's Ready takes it.
  const std::string firstText =
      EditNoteText(options.first.value_or(g_szNoteName[kDefaultRangeFirst]));
  const std::string lastText = EditNoteText(options.last.value_or(g_szNoteName[kDefaultRangeLast]));
  if (!AcceptRange(firstText, lastText)) {
    err << RangeErrorHelpText(g_nRunState);
    return kExitBadRange;
  }

  // The input first, so that a bad input leaves no folder or trace behind.
  CSoundFileReader reader;
  std::unique_ptr<CSoundFileDevice> pFileDevice;
  std::unique_ptr<CPortAudioDevice> pCardDevice;
  const auto nPadSamples = static_cast<std::int64_t>(dPad * kSampleRateHz);
  if (options.device) {
    pCardDevice = std::make_unique<CPortAudioDevice>(*options.device);
  } else if (options.bRealtime) {
    pFileDevice = std::make_unique<CSoundFileDevice>(options.input, nPadSamples, options.dSpeed);
    if (!pFileDevice->OpenFile(error)) {
      return fail(error);
    }
  } else if (!reader.Open(options.input, error)) {
    return fail(error);
  }
  if (!PrepareOutputFolder(options.outDir, error)) {
    return fail(error);
  }
  std::ofstream trace;
  if (options.trace) {
    trace.open(*options.trace, std::ios::binary | std::ios::trunc);
    if (!trace) {
      return fail("cannot write the trace file " + *options.trace);
    }
  }
  std::ostream* pTrace = options.trace ? &trace : nullptr;
  if (options.plotDir && !PrepareOutputFolder(*options.plotDir, error)) {
    return fail(error);
  }
  std::optional<CPlotWriter> plot;
  if (options.plotDir) {
    plot.emplace(*options.plotDir);
  }
  CPlotWriter* pPlot = plot ? &*plot : nullptr;

  if (pFileDevice || pCardDevice) {
    CWaveInDevice& device = pFileDevice ? static_cast<CWaveInDevice&>(*pFileDevice)
                                        : static_cast<CWaveInDevice&>(*pCardDevice);
    CLiveRun run(device, pFileDevice.get(), dThink, options.dSpeed, std::move(choices), pTrace,
                 pPlot, err, pbInterrupted);
    const int nCode = run.Run();
    if (plot) {
      plot->WriteIndex();
    }
    if (nCode == kExitInterrupted) {
      err << "sonavel-train: interrupted; no pattern file was written\n";
      return nCode;
    }
    if (nCode != 0) {
      return fail("capture failed; no pattern file was written");
    }
    if (pFileDevice && !pFileDevice->ReadError().empty()) {
      return fail(pFileDevice->ReadError() + "; no pattern file was written");
    }
  } else {
    AcknowledgeCaution();
    CVirtualRun run(reader, nPadSamples,
                    static_cast<std::int64_t>(dThink * static_cast<double>(kUnitsPerSecond)),
                    std::move(choices), pTrace, pPlot, err, pbInterrupted);
    SetNotePatternPrompt(&run);
    const bool bCompleted = run.Run();
    SetNotePatternPrompt(nullptr);
    if (plot) {
      plot->WriteIndex();
    }
    if (!bCompleted) {
      err << "sonavel-train: interrupted; no pattern file was written\n";
      return kExitInterrupted;
    }
    if (!reader.Error().empty()) {
      return fail(reader.Error() + "; no pattern file was written");
    }
  }
  if (options.trace && !trace.flush()) {
    return fail("cannot write the trace file " + *options.trace);
  }
  if (plot && !plot->Error().empty()) {
    return fail(plot->Error());
  }

  // At exit: the text listing, then the binary file (the user never saved here).
  int nCode = 0;
  const fs::path folder(options.outDir);
  for (const auto& [pszName, bytes] :
       {std::pair{kPatternTextName, FormatPatternText()},
        std::pair{kPatternDataName, FormatPatternData(kNoteCount)}}) {
    if (!WriteFileReplacing(folder / pszName, bytes, &error)) {
      err << "sonavel-train: " << error << '\n';
      nCode = kExitBadInput;
    }
  }
  PrintLog(out);
  return nCode;
}
