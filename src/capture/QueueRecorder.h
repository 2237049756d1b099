// A recorder that hands each captured buffer to a queue instead of the sample history, for
// whoever analyses the sound on another thread (note recognition). Nothing of the training
// run is touched, so a training recorder and this one never disturb each other.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

#include "capture/WaveInRecorder.h"

// Live sound for recognition comes in buffers of this many samples (12 ms): a note is named as
// soon as the frames after it are in, and a 512-sample buffer would hold them back up to 46 ms
// more.
inline constexpr std::int32_t kLiveBufferLen = 128;

class CQueueRecorder final : public CWaveInRecorder {
 public:
  // Buffers of `nBufferLen` samples. At most `nMaxQueued` buffers wait; when the reader falls
  // that far behind, the oldest are dropped and counted.
  explicit CQueueRecorder(std::int32_t nBufferLen, std::size_t nMaxQueued = 4096)
      : CWaveInRecorder(nBufferLen), m_nMaxQueued(nMaxQueued) {}
  ~CQueueRecorder() override;
  CQueueRecorder(const CQueueRecorder&) = delete;
  CQueueRecorder& operator=(const CQueueRecorder&) = delete;

  // Worker thread: queues a copy of the buffer.
  int ProcessBuffer(const std::int16_t* pSamples) override;

  // Takes the oldest queued buffer into `samples`; false when none came within `timeout`.
  bool TakeBuffer(std::vector<std::int16_t>& samples, std::chrono::milliseconds timeout);

  std::uint64_t Dropped() const;

 private:
  mutable std::mutex m_mutex;
  std::condition_variable m_ready;
  std::deque<std::vector<std::int16_t>> m_queue;  // guarded by m_mutex
  std::uint64_t m_nDropped = 0;                   // guarded by m_mutex
  std::size_t m_nMaxQueued;
};
