#include "capture/FakeWaveInDevice.h"

#include <algorithm>

void CFakeWaveInDevice::FailAt(Call call, int nCode, int nNth) {
  const std::lock_guard lock(m_mutex);
  m_failCall = call;
  m_nFailCode = nCode;
  m_nFailNth = nNth;
}

void CFakeWaveInDevice::SetDeviceCount(int nCount) {
  const std::lock_guard lock(m_mutex);
  m_nDevices = nCount;
}

void CFakeWaveInDevice::SetWrongPrepareFlags(bool bWrong) {
  const std::lock_guard lock(m_mutex);
  m_bWrongFlags = bWrong;
}

std::vector<CFakeWaveInDevice::Call> CFakeWaveInDevice::Calls() const {
  const std::lock_guard lock(m_mutex);
  return m_calls;
}

int CFakeWaveInDevice::CountOf(Call call) const {
  const std::lock_guard lock(m_mutex);
  return static_cast<int>(std::count(m_calls.begin(), m_calls.end(), call));
}

bool CFakeWaveInDevice::IsOpen() const {
  const std::lock_guard lock(m_mutex);
  return m_bOpen;
}

int CFakeWaveInDevice::Enter(Call call) {
  const std::lock_guard lock(m_mutex);
  m_calls.push_back(call);
  if (m_nFailCode != kWaveOk && call == m_failCall &&
      std::count(m_calls.begin(), m_calls.end(), call) == m_nFailNth) {
    return m_nFailCode;
  }
  return kWaveOk;
}

int CFakeWaveInDevice::GetNumDevs() {
  Enter(Call::GetNumDevs);
  const std::lock_guard lock(m_mutex);
  return m_nDevices;
}

int CFakeWaveInDevice::GetDevCaps(WaveInCaps& caps) {
  caps.name = "test device";
  caps.nChannels = 1;
  return Enter(Call::GetDevCaps);
}

int CFakeWaveInDevice::Open(const WaveFormat& /*format*/, CWaveEvent* pEvent) {
  if (const int nCode = Enter(Call::Open); nCode != kWaveOk) {
    return nCode;
  }
  {
    const std::lock_guard lock(m_mutex);
    m_bOpen = true;
  }
  ResetRing();
  Attach(pEvent);
  return kWaveOk;
}

int CFakeWaveInDevice::PrepareHeader(WaveHeader& header) {
  if (const int nCode = Enter(Call::PrepareHeader); nCode != kWaveOk) {
    return nCode;
  }
  const int nCode = CRingWaveInDevice::PrepareHeader(header);
  const std::lock_guard lock(m_mutex);
  if (nCode == kWaveOk && m_bWrongFlags) {
    header.dwFlags.store(header.dwFlags.load() | kHeaderDone);
  }
  return nCode;
}

int CFakeWaveInDevice::UnprepareHeader(WaveHeader& header) {
  if (const int nCode = Enter(Call::UnprepareHeader); nCode != kWaveOk) {
    return nCode;
  }
  return CRingWaveInDevice::UnprepareHeader(header);
}

int CFakeWaveInDevice::AddBuffer(WaveHeader& header) {
  if (const int nCode = Enter(Call::AddBuffer); nCode != kWaveOk) {
    return nCode;
  }
  return CRingWaveInDevice::AddBuffer(header);
}

int CFakeWaveInDevice::Start() { return Enter(Call::Start); }

int CFakeWaveInDevice::Stop() { return Enter(Call::Stop); }

int CFakeWaveInDevice::Close() {
  const int nCode = Enter(Call::Close);
  Detach();
  ResetRing();
  const std::lock_guard lock(m_mutex);
  m_bOpen = false;
  return nCode;
}
