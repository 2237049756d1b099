// A wave-input device for tests: delivers the samples a test hands it, can fail any call
// with a chosen code, and records the calls made to it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

#include "capture/RingWaveInDevice.h"

class CFakeWaveInDevice : public CRingWaveInDevice {
 public:
  enum class Call {
    GetNumDevs,
    GetDevCaps,
    Open,
    PrepareHeader,
    UnprepareHeader,
    AddBuffer,
    Start,
    Stop,
    Close
  };

  // The `nNth` call (1 = the first) of `call` returns `nCode` instead of succeeding.
  void FailAt(Call call, int nCode, int nNth = 1);
  // GetNumDevs answers this; 0 means no device.
  void SetDeviceCount(int nCount);
  // PrepareHeader succeeds but leaves a flag besides "prepared".
  void SetWrongPrepareFlags(bool bWrong);

  // Hands samples to the device as if it had captured them (any thread).
  void Deliver(const std::int16_t* pSamples, std::size_t nCount) { Push(pSamples, nCount); }

  std::vector<Call> Calls() const;
  int CountOf(Call call) const;
  bool IsOpen() const;

  int GetNumDevs() override;
  int GetDevCaps(WaveInCaps& caps) override;
  int Open(const WaveFormat& format, CWaveEvent* pEvent) override;
  int PrepareHeader(WaveHeader& header) override;
  int UnprepareHeader(WaveHeader& header) override;
  int AddBuffer(WaveHeader& header) override;
  int Start() override;
  int Stop() override;
  int Close() override;

 private:
  // Records the call; the code it must fail with, or kWaveOk.
  int Enter(Call call);

  mutable std::mutex m_mutex;
  std::vector<Call> m_calls;
  Call m_failCall = Call::GetNumDevs;
  int m_nFailCode = kWaveOk;
  int m_nFailNth = 0;
  int m_nDevices = 1;
  bool m_bWrongFlags = false;
  bool m_bOpen = false;
};
