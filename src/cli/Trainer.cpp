#include "cli/Trainer.h"

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <utility>

#include "analysis/SampleHistory.h"
#include "capture/PortAudioDevice.h"
#include "capture/SoundFileDevice.h"
#include "cli/ExitCodes.h"
#include "cli/ListDevices.h"
#include "cli/LiveRun.h"
#include "cli/OptionParsing.h"
#include "cli/PlotWriter.h"
#include "cli/RecordingReader.h"
#include "cli/ScriptedAnswers.h"
#include "cli/ShowPatternFile.h"
#include "cli/TrainerOptions.h"
#include "cli/VirtualRun.h"
#include "files/PatternFiles.h"
#include "training/NoteTables.h"
#include "training/RangeValidation.h"
#include "training/TrainingController.h"

namespace fs = std::filesystem;

namespace {

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

}  // namespace

int RunTrainer(int argc, const char* const* argv, std::ostream& out, std::ostream& err,
               const std::atomic<bool>* pbInterrupted) {
  TrainerOptions options;
  if (const std::optional<int> nCode = ParseTrainerOptions(argc, argv, options, out, err)) {
    return *nCode;
  }

  const auto fail = [&err](const std::string& message) {
    err << "sonavel-train: " << message << '\n';
    return kExitBadInput;
  };

  if (options.bListDevices) {
    return ListDevices(out, err);
  }
  if (options.show) {
    return ShowPatternFile(*options.show, options.noteNames, out, err);
  }
  TrainerRunSettings settings;
  std::string error;
  if (!CheckRunOptions(options, settings, error)) {
    return fail(error);
  }

  ResetForNewRun();
  if (!LoadNoteNames(options.noteNames, error)) {
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
  const auto nPadSamples = static_cast<std::int64_t>(settings.dPadSeconds * kSampleRateHz);
  CRecordingReader recording(nPadSamples);
  std::unique_ptr<CSoundFileDevice> pFileDevice;
  std::unique_ptr<CPortAudioDevice> pCardDevice;
  if (options.device) {
    pCardDevice = std::make_unique<CPortAudioDevice>(*options.device);
  } else if (options.bRealtime) {
    pFileDevice = std::make_unique<CSoundFileDevice>(options.input, nPadSamples, options.dSpeed);
    if (!pFileDevice->OpenFile(error)) {
      return fail(error);
    }
  } else if (!recording.Open(options.input, error)) {
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
  if (options.plotDir && !PrepareOutputFolder(*options.plotDir, error)) {
    return fail(error);
  }
  std::optional<CPlotWriter> plot;
  if (options.plotDir) {
    plot.emplace(*options.plotDir);
  }
  CScriptedAnswers answers(std::move(settings.choices), options.trace ? &trace : nullptr,
                           plot ? &*plot : nullptr, settings.bAutoChoices);

  if (pFileDevice || pCardDevice) {
    CWaveInDevice& device = pFileDevice ? static_cast<CWaveInDevice&>(*pFileDevice)
                                        : static_cast<CWaveInDevice&>(*pCardDevice);
    CLiveRun run(device, pFileDevice.get(), settings.dThinkSeconds, options.dSpeed, answers, err,
                 pbInterrupted);
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
    CVirtualRun run(recording, settings.dThinkSeconds, answers, err, pbInterrupted);
    const bool bCompleted = run.Run();
    if (plot) {
      plot->WriteIndex();
    }
    if (!bCompleted) {
      err << "sonavel-train: interrupted; no pattern file was written\n";
      return kExitInterrupted;
    }
    if (!recording.Error().empty()) {
      return fail(recording.Error() + "; no pattern file was written");
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
