// The wave-input recorder: captures 16-bit mono samples at 11025 Hz in buffers of 512
// samples (or fewer, for a quicker reaction to live sound) from the installed device and hands
// every completed buffer to ProcessBuffer, which feeds the sample history. One buffer is queued at
// a time; a worker thread waits on the device's event, re-arms the buffer and then processes what
// it held.
//
// Start and Stop are called on the user-interface thread; the worker runs Requeue and
// ProcessBuffer. Device failures are reported through ShowMessageBox with fixed texts.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>

#include "capture/WaveInDevice.h"

class CWaveInRecorder {
 public:
  // `nBufferLen` samples a buffer, 1 ... 8192.
  explicit CWaveInRecorder(std::int32_t nBufferLen = 512);
  virtual ~CWaveInRecorder();
  CWaveInRecorder(const CWaveInRecorder&) = delete;
  CWaveInRecorder& operator=(const CWaveInRecorder&) = delete;

  // The device to capture from; the caller keeps it alive until after Stop. Install before
  // Start; without one, Start finds no device.
  void SetDevice(CWaveInDevice* pDevice);

  // Zeroes the whole capture buffer; returns 0.
  virtual int ClearBuffer();

  // Processes one completed buffer of m_nBufferLen samples: appends it to the sample
  // history. Runs on the worker thread. A subclass that overrides it must Stop in its own
  // destructor: the worker may still call it until Stop has joined it.
  virtual int ProcessBuffer(const std::int16_t* pSamples);

  // Opens the device and starts capture. 0 on success (also when there is no device, after
  // the "No Sound Device" message), otherwise the code of the device call that failed.
  int Start();

  // Stops capture: releases and joins the worker, stops and closes the device. Safe to call
  // again, and when Start failed or never ran.
  void Stop();

  // Re-arms the single buffer. Worker thread only.
  void Requeue();

  void SetFormat(std::uint16_t nChannels, std::uint32_t nRate, std::uint16_t nBits);

  // The worker thread's body; returns 0.
  static int WorkerProc(CWaveInRecorder* pRecorder);

  // Buffers handed to ProcessBuffer since Start.
  std::uint64_t BuffersProcessed() const { return m_nProcessed.load(); }

  const WaveFormat& Format() const { return m_WaveFormat; }
  const WaveHeader& Header() const { return m_WaveHdr; }

 private:
  // Sets the header to the first m_nBufferLen samples of the buffer and prepares it; false
  // (after the message) when preparing fails or leaves other flags than "prepared".
  bool ArmAndPrepare(int& nResult);
  // Queues the buffer; false when the device refuses it (nResult holds its code).
  bool QueueBuffer(int& nResult);
  // True, once, when the buffer this recorder queued has been filled.
  bool TakeFilledBuffer();

  static constexpr int kBufferCapacity = 8192;

  std::int16_t m_sBuffer[kBufferCapacity];     // the device fills the first m_nBufferLen
  std::int16_t m_sCompleted[kBufferCapacity];  // the completed buffer while it is processed
  WaveInCaps m_WaveInCaps;
  bool m_bDeviceOpen = false;
  WaveHeader m_WaveHdr;
  WaveFormat m_WaveFormat;
  std::unique_ptr<CWaveEvent> m_pEvent;
  std::thread m_worker;
  std::atomic<int> m_bStop{0};
  std::int32_t m_nSampleRate;
  std::int32_t m_nBufferLen;
  CWaveInDevice* m_pDevice = nullptr;
  std::atomic<std::uint64_t> m_nProcessed{0};
  std::atomic<bool> m_bQueued{false};  // the buffer is with the device, not yet taken back
};

// The program's one recorder.
extern CWaveInRecorder g_recorder;
