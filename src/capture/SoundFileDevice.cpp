#include "capture/SoundFileDevice.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <span>

#include "analysis/SampleHistory.h"

CSoundFileDevice::CSoundFileDevice(std::string path, std::int64_t nPadSamples, double dSpeed,
                                   std::int32_t nChunk)
    : m_path(std::move(path)),
      m_nPadLeft(nPadSamples),
      m_dSpeed(dSpeed > 0.0 ? dSpeed : 1.0),
      m_nChunk(static_cast<std::size_t>(std::clamp(nChunk, 1, kBufferLen))),
      // Paced reads need no read-ahead, and without it the device has read no further into
      // the file than the buffer it is on (a file cut short meanwhile shows as cut short).
      m_reader(0) {}

CSoundFileDevice::~CSoundFileDevice() { CSoundFileDevice::Close(); }

bool CSoundFileDevice::OpenFile(std::string& error) {
  if (!m_bFileOpen) {
    m_bFileOpen = m_reader.Open(m_path, error);
  }
  return m_bFileOpen;
}

int CSoundFileDevice::GetNumDevs() { return 1; }

int CSoundFileDevice::GetDevCaps(WaveInCaps& caps) {
  caps.name = "sound file " + m_path;
  caps.nChannels = 1;
  return kWaveOk;
}

int CSoundFileDevice::Open(const WaveFormat& format, CWaveEvent* pEvent) {
  if (m_bOpen) {
    return kWaveErrAllocated;
  }
  if (format.wFormatTag != 1 || format.nChannels != 1 || format.wBitsPerSample != 16 ||
      format.nSamplesPerSec != static_cast<std::uint32_t>(kSampleRateHz)) {
    return kWaveErrBadFormat;
  }
  std::string error;
  if (!OpenFile(error)) {
    return kWaveErrBadDevice;
  }
  m_bOpen = true;
  {
    const std::lock_guard lock(m_mutex);
    m_bQuit = false;
    m_bRunning = false;
  }
  Attach(pEvent);
  m_pacer = std::thread(&CSoundFileDevice::Pace, this);
  return kWaveOk;
}

int CSoundFileDevice::Start() {
  if (!m_bOpen) {
    return kWaveErrNotEnabled;
  }
  {
    const std::lock_guard lock(m_mutex);
    m_bRunning = true;
  }
  m_wake.notify_all();
  return kWaveOk;
}

int CSoundFileDevice::Stop() {
  if (!m_bOpen) {
    return kWaveErrNotEnabled;
  }
  const std::lock_guard lock(m_mutex);
  m_bRunning = false;
  return kWaveOk;
}

int CSoundFileDevice::Close() {
  if (!m_bOpen) {
    return kWaveErrNotEnabled;
  }
  {
    const std::lock_guard lock(m_mutex);
    m_bQuit = true;
  }
  m_wake.notify_all();
  if (m_pacer.joinable()) {
    m_pacer.join();
  }
  Detach();
  ResetRing();
  m_bOpen = false;
  return kWaveOk;
}

std::string CSoundFileDevice::ReadError() const {
  const std::lock_guard lock(m_mutex);
  return m_readError;
}

void CSoundFileDevice::Pace() {
  using Clock = std::chrono::steady_clock;
  const double dPeriod = static_cast<double>(m_nChunk) / kSampleRateHz / m_dSpeed;  // seconds
  std::array<std::int16_t, kBufferLen> whole{};
  const std::span<std::int16_t> buffer(whole.data(), m_nChunk);
  std::unique_lock lock(m_mutex);
  Clock::time_point start;
  std::uint64_t nBuffer = 0;
  bool bPacing = false;
  for (;;) {
    if (!bPacing) {
      m_wake.wait(lock, [this] { return m_bRunning || m_bQuit; });
      // Deadlines count from here, so a late wake-up never adds up to drift.
      start = Clock::now();
      nBuffer = 0;
      bPacing = true;
    }
    const auto deadline =
        start + std::chrono::duration_cast<Clock::duration>(
                    std::chrono::duration<double>(dPeriod * static_cast<double>(nBuffer + 1)));
    if (m_wake.wait_until(lock, deadline, [this] { return m_bQuit; })) {
      return;
    }
    if (!m_bRunning) {
      bPacing = false;  // stopped: nothing is captured until the next start
      continue;
    }
    ++nBuffer;
    lock.unlock();
    if (!m_bFinished.load()) {
      std::size_t nGot = m_reader.Read(buffer.data(), buffer.size());
      while (nGot < buffer.size() && m_nPadLeft > 0) {
        buffer[nGot++] = 0;
        --m_nPadLeft;
      }
      if (nGot < buffer.size()) {
        // The last partial buffer is never delivered; the file is done.
        const std::string error = m_reader.Error();
        {
          const std::lock_guard errorLock(m_mutex);
          m_readError = error;
        }
        m_bFinished.store(true);
      } else {
        m_nPushed.fetch_add(1);
      }
    }
    if (m_bFinished.load()) {
      std::fill(buffer.begin(), buffer.end(), std::int16_t{0});  // after the file: silence
    }
    Push(buffer.data(), buffer.size());
    lock.lock();
  }
}
