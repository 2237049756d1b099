// A small wave-input layer: what the recorder needs of a sound input device. A device
// fills one queued buffer header at a time with 16-bit samples, marks it done and signals
// the event it was opened with; it also signals that event once when it opens. Every call
// returns kWaveOk (0) or an error code.
//
// Threads: the recorder calls Open, Start, Stop and Close on the user-interface thread and
// Prepare/Unprepare/AddBuffer/Start on its worker; a device fills headers on a thread of
// its own.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

inline constexpr int kWaveOk = 0;
inline constexpr int kWaveErrError = 1;          // unspecified failure
inline constexpr int kWaveErrBadDevice = 2;      // no such device
inline constexpr int kWaveErrNotEnabled = 3;     // device not open
inline constexpr int kWaveErrAllocated = 4;      // already open
inline constexpr int kWaveErrNoMem = 7;          // out of memory
inline constexpr int kWaveErrBadFormat = 32;     // format not supported
inline constexpr int kWaveErrStillPlaying = 33;  // header still queued
inline constexpr int kWaveErrUnprepared = 34;    // header not prepared

inline constexpr std::uint32_t kHeaderDone = 0x01;      // filled by the device
inline constexpr std::uint32_t kHeaderPrepared = 0x02;  // prepared for the device
inline constexpr std::uint32_t kHeaderInQueue = 0x10;   // queued, not yet filled

// Capture format; PCM only.
struct WaveFormat {
  std::uint16_t wFormatTag = 0;  // 1: PCM
  std::uint16_t nChannels = 0;
  std::uint32_t nSamplesPerSec = 0;
  std::uint32_t nAvgBytesPerSec = 0;
  std::uint16_t nBlockAlign = 0;
  std::uint16_t wBitsPerSample = 0;
  std::uint16_t cbSize = 0;
};

// One capture buffer as it is handed to the device.
struct WaveHeader {
  std::int16_t* pData = nullptr;
  std::uint32_t dwBufferLength = 0;  // bytes
  std::uint32_t dwBytesRecorded = 0;
  std::atomic<std::uint32_t> dwFlags{0};
};

struct WaveInCaps {
  std::string name;
  int nChannels = 0;
};

// An auto-reset event: Set wakes one Wait, or the next one. Set never blocks, so a device
// may call it from a real-time audio callback.
class CWaveEvent {
 public:
  void Set() {
    if (!m_bSignalled.exchange(true, std::memory_order_acq_rel)) {
      m_bSignalled.notify_one();
    }
  }
  void Wait() {
    while (!m_bSignalled.exchange(false, std::memory_order_acq_rel)) {
      m_bSignalled.wait(false, std::memory_order_acquire);
    }
  }

 private:
  std::atomic<bool> m_bSignalled{false};
};

class CWaveInDevice {
 public:
  virtual ~CWaveInDevice() = default;

  virtual int GetNumDevs() = 0;  // input devices; 0 means none
  virtual int GetDevCaps(WaveInCaps& caps) = 0;
  // Opens with event notification: `pEvent` is signalled once now and once per filled buffer.
  virtual int Open(const WaveFormat& format, CWaveEvent* pEvent) = 0;
  virtual int PrepareHeader(WaveHeader& header) = 0;
  virtual int UnprepareHeader(WaveHeader& header) = 0;
  virtual int AddBuffer(WaveHeader& header) = 0;
  virtual int Start() = 0;
  virtual int Stop() = 0;
  virtual int Close() = 0;

  // Text of an error code of this device, for messages.
  virtual std::string ErrorText(int nError) const;
};
