// The part of a wave-input device shared by the real ones: a producer (an audio callback or
// a pacing thread) pushes samples into a lock-free ring; whenever a header is queued and a
// buffer's worth of samples is waiting, the header is filled, marked done and the event
// signalled. Samples that arrive while no header is queued wait in the ring instead of being
// lost; only a full ring drops samples, and those are counted.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "capture/WaveInDevice.h"

class CRingWaveInDevice : public CWaveInDevice {
 public:
  explicit CRingWaveInDevice(std::size_t nRingSamples = 1U << 16U);

  int PrepareHeader(WaveHeader& header) override;
  int UnprepareHeader(WaveHeader& header) override;
  int AddBuffer(WaveHeader& header) override;

  // Samples dropped because the ring was full.
  std::uint64_t DroppedSamples() const { return m_nDropped.load(std::memory_order_relaxed); }
  // Buffers filled and handed over so far.
  std::uint64_t BuffersDelivered() const { return m_nDelivered.load(std::memory_order_relaxed); }

 protected:
  // Producer side (one thread at a time): appends samples; never blocks.
  void Push(const std::int16_t* pSamples, std::size_t nCount);
  // Fills the queued header if one is queued and enough samples wait. Any thread.
  void TryComplete();
  // Forgets waiting samples and the queued header; call with the producer stopped.
  void ResetRing();
  // Remembers the event to signal; signals it once (the open notification).
  void Attach(CWaveEvent* pEvent);
  void Detach();

 private:
  std::vector<std::int16_t> m_ring;
  std::size_t m_nMask;
  std::atomic<std::uint64_t> m_nWritten{0};  // samples pushed (producer)
  std::atomic<std::uint64_t> m_nRead{0};     // samples taken (whoever fills a header)
  std::atomic<WaveHeader*> m_pQueued{nullptr};
  std::atomic<CWaveEvent*> m_pEvent{nullptr};
  std::atomic<std::uint64_t> m_nDropped{0};
  std::atomic<std::uint64_t> m_nDelivered{0};
};
