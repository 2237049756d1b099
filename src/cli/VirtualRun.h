// sonavel-train's run in virtual time: the recording's buffers and the controller's timer
// ticks as a stream of events in time order. Buffer k of 512 samples completes at
// (k + 1) * 512 / 11025 s, timer tick j fires at j * 0.1 s, a buffer comes first on a tie; the
// run ends with the first tick at or after the last buffer. Each note pattern dialog stays open
// for the think time, and what falls before its end is dispatched inside it: buffers are
// dropped, ticks find a note being handled. Everything runs on the calling thread.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <iosfwd>

#include "cli/RecordingReader.h"
#include "cli/ScriptedAnswers.h"
#include "training/FrontEnd.h"

class CVirtualRun final : public CNotePatternPrompt {
 public:
  // `recording` is open; `dThinkSeconds` is how long each dialog stays open. Progress goes to
  // `err` when it is standard error on a terminal. `pbInterrupted` may be null.
  CVirtualRun(CRecordingReader& recording, double dThinkSeconds, CScriptedAnswers& answers,
              std::ostream& err, const std::atomic<bool>* pbInterrupted);

  // Starts the run (the caution acknowledged) and dispatches every event, answering the
  // dialogs; false when interrupted.
  bool Run();

  NoteChoice AskNoteChoice(const NotePattern& pattern) override;

 private:
  bool Interrupted() const { return m_pbInterrupted != nullptr && m_pbInterrupted->load(); }
  bool DispatchAll();  // false when interrupted
  void PeekBuffer();
  bool NextEvent();
  void Dispatch();
  void ShowProgress();
  void ClearProgress();

  CRecordingReader& m_recording;
  std::int64_t m_nThinkUnits;  // how long each dialog stays open
  CScriptedAnswers& m_answers;
  std::ostream& m_err;
  const std::atomic<bool>* m_pbInterrupted;

  bool m_bHaveBuffer = false;   // the recording's buffer is the next one to deliver
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
