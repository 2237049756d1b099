#include "cli/VirtualRun.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <iostream>

#include "analysis/SampleHistory.h"
#include "training/RangeValidation.h"
#include "training/TrainingController.h"

namespace {

// Virtual time in units of 1/110250 s: a buffer lasts 5120 units, a timer tick 11025.
constexpr std::int64_t kUnitsPerSecond = 110250;
constexpr std::int64_t kUnitsPerBuffer = 5120;
constexpr std::int64_t kUnitsPerTick = 11025;

}  // namespace

CVirtualRun::CVirtualRun(CRecordingReader& recording, double dThinkSeconds,
                         CScriptedAnswers& answers, std::ostream& err,
                         const std::atomic<bool>* pbInterrupted)
    : m_recording(recording),
      m_nThinkUnits(
          static_cast<std::int64_t>(dThinkSeconds * static_cast<double>(kUnitsPerSecond))),
      m_answers(answers),
      m_err(err),
      m_pbInterrupted(pbInterrupted),
      m_nExpectedSamples(recording.ExpectedSamples()) {
  // Progress only for a person watching the program's own terminal.
  m_bProgress = &err == &std::cerr && ::isatty(STDERR_FILENO) != 0;
}

bool CVirtualRun::Run() {
  AcknowledgeCaution();
  SetNotePatternPrompt(this);
  const bool bCompleted = DispatchAll();
  SetNotePatternPrompt(nullptr);
  return bCompleted;
}

NoteChoice CVirtualRun::AskNoteChoice(const NotePattern& pattern) {
  // The dialog stays open for the think time: what falls before its end is dispatched
  // inside it (buffers are dropped, ticks find a note being handled).
  const std::int64_t nDeadline = m_nPassTime + m_nThinkUnits;
  while (NextEvent() && m_nNextTime < nDeadline && !Interrupted()) {
    Dispatch();
  }
  return m_answers.Answer(pattern, m_nPassTime / kUnitsPerTick);
}

bool CVirtualRun::DispatchAll() {
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

// Fetches the next full buffer, unless one is waiting; the file's samples, then padding.
void CVirtualRun::PeekBuffer() {
  if (!m_bHaveBuffer) {
    m_bHaveBuffer = m_recording.ReadBuffer();
  }
}

// Time and kind of the next event; false when the run is over: after the first tick at or
// after the last buffer's completion (no tick at all without a buffer).
bool CVirtualRun::NextEvent() {
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

void CVirtualRun::Dispatch() {
  if (m_bNextIsBuffer) {
    ProcessBuffer(m_recording.Buffer().data());
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

void CVirtualRun::ShowProgress() {
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

void CVirtualRun::ClearProgress() {
  if (m_bProgressShown) {
    m_err << "\r\033[K" << std::flush;
  }
}
