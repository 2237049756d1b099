// sonavel-train's run through the recorder, as the desktop program runs it: a capture device
// delivers buffers on its own thread (a sound file at its pace, or a sound card), and a 100 ms
// timer on the calling thread runs the controller. Each note pattern dialog stays open for the
// think time. Device failures are reported on `err` from either thread.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <iosfwd>
#include <mutex>

#include "capture/SoundFileDevice.h"
#include "capture/WaveInDevice.h"
#include "cli/ScriptedAnswers.h"
#include "training/FrontEnd.h"

class CLiveRun final : public CNotePatternPrompt, public CMessageBoxService {
 public:
  // `pFileDevice` is `device` when capture comes from a file, else null; the run then ends
  // with the first tick after the file's last buffer, otherwise when the range is done.
  // `dSpeed` scales time (the timer and the think time). `pbInterrupted` may be null.
  CLiveRun(CWaveInDevice& device, CSoundFileDevice* pFileDevice, double dThinkSeconds,
           double dSpeed, CScriptedAnswers& answers, std::ostream& err,
           const std::atomic<bool>* pbInterrupted);

  // Starts capture and runs the timer until the run ends. Returns the exit code: 0 done,
  // 1 capture failed, 130 interrupted.
  int Run();

  NoteChoice AskNoteChoice(const NotePattern& pattern) override;

  // Device failures, from this thread or the capture thread.
  void ShowMessage(const char* pszText) override;

 private:
  using Clock = std::chrono::steady_clock;

  bool Interrupted() const { return m_pbInterrupted != nullptr && m_pbInterrupted->load(); }
  Clock::duration Scaled(std::int64_t nTicks) const;
  bool SleepUntil(Clock::time_point until) const;

  CWaveInDevice& m_device;
  CSoundFileDevice* m_pFileDevice;  // the file device, when capture comes from a file
  std::chrono::duration<double> m_tickPeriod;
  std::chrono::duration<double> m_think;
  CScriptedAnswers& m_answers;
  std::ostream& m_err;
  std::mutex m_errMutex;
  const std::atomic<bool>* m_pbInterrupted;
  std::atomic<bool> m_bCaptureFailed{false};
  std::int64_t m_nPassTick = 0;
};
