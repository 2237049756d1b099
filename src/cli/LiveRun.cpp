#include "cli/LiveRun.h"

#include <algorithm>
#include <ostream>
#include <thread>

#include "capture/WaveInRecorder.h"
#include "cli/ExitCodes.h"
#include "training/NoteTables.h"
#include "training/RangeValidation.h"
#include "training/TrainingController.h"

CLiveRun::CLiveRun(CWaveInDevice& device, CSoundFileDevice* pFileDevice, double dThinkSeconds,
                   double dSpeed, CScriptedAnswers& answers, std::ostream& err,
                   const std::atomic<bool>* pbInterrupted)
    : m_device(device),
      m_pFileDevice(pFileDevice),
      m_tickPeriod(std::chrono::duration<double>(0.1 / dSpeed)),
      m_think(std::chrono::duration<double>(dThinkSeconds / dSpeed)),
      m_answers(answers),
      m_err(err),
      m_pbInterrupted(pbInterrupted) {}

int CLiveRun::Run() {
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

NoteChoice CLiveRun::AskNoteChoice(const NotePattern& pattern) {
  SleepUntil(Clock::now() + std::chrono::duration_cast<Clock::duration>(m_think));
  return m_answers.Answer(pattern, m_nPassTick);
}

void CLiveRun::ShowMessage(const char* pszText) {
  const std::lock_guard lock(m_errMutex);
  m_err << "sonavel-train: " << pszText << '\n' << std::flush;
  m_bCaptureFailed = true;
}

CLiveRun::Clock::duration CLiveRun::Scaled(std::int64_t nTicks) const {
  return std::chrono::duration_cast<Clock::duration>(m_tickPeriod * static_cast<double>(nTicks));
}

// Sleeps in short steps so that Ctrl+C is noticed; false when interrupted.
bool CLiveRun::SleepUntil(Clock::time_point until) const {
  while (Clock::now() < until) {
    if (Interrupted()) {
      return false;
    }
    std::this_thread::sleep_for(
        std::min<Clock::duration>(until - Clock::now(), std::chrono::milliseconds(20)));
  }
  return !Interrupted();
}
