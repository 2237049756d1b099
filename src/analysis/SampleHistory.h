// The sample history: the last 204800 captured samples (about 18.6 s at 11025 Hz) and, for
// every position n, the zero-crossing count and the energy of the 512-sample window that
// starts at n. Fed one 512-sample buffer at a time on the capture thread; read and reset on
// the user-interface thread.
//
// Each ring holds 204800 positions followed by a mirror half: a write at k also writes
// k + 204800, so any run of positions 0 ... 409599 reads in one piece across the end of the
// ring.
//
// Threads: ProcessBuffer (capture thread) and ResetHistory (user-interface thread) exclude
// each other through HistoryMutex(), so a reset never lands inside a buffer. Readers on the
// user-interface thread that look at ring contents take the same lock for the time of their
// read (the detector does so itself). g_nTrainState, g_nWriteIndex, g_nCrossPos and
// g_nHistoryState are atomics and may be read without the lock.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

inline constexpr std::int32_t kRingSize = 204800;            // positions in each ring
inline constexpr std::int32_t kRingStorage = 2 * kRingSize;  // ring plus mirror half
inline constexpr std::int32_t kBufferLen = 512;              // samples per capture buffer
inline constexpr std::int32_t kWindowLen = 512;              // samples per feature window
inline constexpr std::int32_t kSampleRateHz = 11025;
inline constexpr float kSampleScale = 0.00008f;  // raw 16-bit value to ring value

extern float g_fSampleRing[kRingStorage];     // scaled samples
extern float g_fZeroCrossRing[kRingStorage];  // crossings at n+1 ... n+511, as a float
extern float g_fEnergyRing[kRingStorage];     // sum of |x| over n ... n+511

// Positions, relative to i, the position at which the next sample will be written.
extern std::atomic<std::int32_t> g_nWriteIndex;  // i; 0 ... 204800, wrapped at a buffer start
extern std::int32_t g_nEnergyPos;                // i - 511: window start whose energy is next
extern std::int32_t g_nEnergyTail;               // i - 512: its sample leaves the window
extern std::atomic<std::int32_t> g_nCrossPos;    // i - 511: every feature below it is complete
extern std::int32_t g_nOutPrev;                  // i - 512: older sample of the leaving crossing
extern std::int32_t g_nOutCur;                   // i - 511: newer sample of the leaving crossing
extern std::int32_t g_nOutPrev2;                 // i - 513: fallback older sample of it
extern std::int32_t g_nInCur;                    // i: newest sample
extern std::int32_t g_nInPrev;                   // i - 1
extern std::int32_t g_nInPrev2;                  // i - 2: fallback older sample of the entering one

// -1 empty (nothing since the last reset), 0 first window computed, 1 running.
extern std::atomic<std::int32_t> g_nHistoryState;

// The lock that keeps a buffer's update, a reset and a reader's look at the rings apart.
std::mutex& HistoryMutex();

// Appends the 512 samples of one captured buffer and updates both feature rings, a constant
// amount of work per sample. Drops the buffer while g_nTrainState is -1 or 3.
// Runs on the capture thread; holds HistoryMutex() for the whole buffer.
void ProcessBuffer(const std::int16_t* pSamples);

// Empties the history between notes: write and window positions back to 0, every other
// position and the state to -1; the rings keep their contents. Takes HistoryMutex().
void ResetHistory();

// ResetHistory, and every ring back to 0.0: the state at program start.
void ClearHistory();

// ResetHistory, and back to 0.0 every ring position ProcessBuffer stored into since the last
// clear: the state at program start, as long as nothing but ProcessBuffer wrote the rings
// (code that writes them directly, such as a test, clears them with ClearHistory).
void ClearStoredHistory();

// Ring position that stands for `nPos`: positions 0 ... 409599 as they are, anything else
// ((nPos mod 204800) + 204800) mod 204800.
constexpr std::int32_t RingIndex(std::int32_t nPos) {
  if (nPos >= 0 && nPos < kRingStorage) {
    return nPos;
  }
  return ((nPos % kRingSize) + kRingSize) % kRingSize;
}

// Copies `nCount` samples starting at history position `nStart` into `pfDest`, reading
// positions outside 0 ... 409599 through RingIndex. Takes HistoryMutex().
void CopyHistorySamples(std::int32_t nStart, std::int32_t nCount, float* pfDest);
