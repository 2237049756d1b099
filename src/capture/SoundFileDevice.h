// A recorded sound file as an input device: the file's samples (converted as sonavel-train
// converts them) in 512-sample buffers (or shorter ones) at the pace of a live device, one
// every 512/11025 s on a steady clock without drift, then silence for as long as the device
// runs.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "capture/RingWaveInDevice.h"
#include "capture/SoundFileReader.h"

class CSoundFileDevice final : public CRingWaveInDevice {
 public:
  // `nPadSamples` of digital silence follow the file's samples before the device counts as
  // finished (it goes on delivering silence afterwards). `dSpeed` > 1 delivers faster than
  // real time (for tests). The file comes in pieces of `nChunk` samples (1 ... 512).
  CSoundFileDevice(std::string path, std::int64_t nPadSamples = 0, double dSpeed = 1.0,
                   std::int32_t nChunk = 512);
  ~CSoundFileDevice() override;

  // Opens the file now, so that a bad file can be reported before capture starts.
  bool OpenFile(std::string& error);

  int GetNumDevs() override;
  int GetDevCaps(WaveInCaps& caps) override;
  int Open(const WaveFormat& format, CWaveEvent* pEvent) override;
  int Start() override;
  int Stop() override;
  int Close() override;

  // The file and its padding have been pushed, up to the last full buffer.
  bool Finished() const { return m_bFinished.load(); }
  // Full pieces of file samples and padding pushed so far.
  std::uint64_t BuffersPushed() const { return m_nPushed.load(); }
  // Non-empty when reading the file failed.
  std::string ReadError() const;

 private:
  void Pace();  // the pacing thread

  std::string m_path;
  std::int64_t m_nPadLeft;
  double m_dSpeed;
  std::size_t m_nChunk;
  CSoundFileReader m_reader;
  bool m_bFileOpen = false;
  bool m_bOpen = false;
  std::thread m_pacer;
  mutable std::mutex m_mutex;
  std::condition_variable m_wake;
  bool m_bRunning = false;  // guarded by m_mutex
  bool m_bQuit = false;     // guarded by m_mutex
  std::atomic<bool> m_bFinished{false};
  std::atomic<std::uint64_t> m_nPushed{0};
  std::string m_readError;  // guarded by m_mutex
};
