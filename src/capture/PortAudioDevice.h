// The sound card through PortAudio: 16-bit mono at 11025 Hz from the default input device
// (or a chosen one), converted by PortAudio/ALSA when the hardware runs otherwise. The
// audio callback only copies samples into the ring and fills a queued buffer; every
// captured sample reaches the recorder in order unless the ring overflows.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "capture/RingWaveInDevice.h"

// One input device as PortAudio lists it.
struct PortAudioInput {
  int nIndex = 0;  // PortAudio's device index
  std::string name;
  std::string hostApi;
  int nMaxChannels = 0;
  double dDefaultRate = 0.0;
  bool bDefault = false;
};

// Pa_Initialize for as long as the object lives, then Pa_Terminate.
class CPortAudioSession {
 public:
  CPortAudioSession();
  ~CPortAudioSession();
  CPortAudioSession(const CPortAudioSession&) = delete;
  CPortAudioSession& operator=(const CPortAudioSession&) = delete;

  bool Ok() const { return m_nError == 0; }
  std::string ErrorText() const;

 private:
  int m_nError;
};

// The input devices PortAudio knows, for --list-devices. Empty when PortAudio cannot start
// (then `error` says why).
std::vector<PortAudioInput> ListPortAudioInputs(std::string& error);

class CPortAudioDevice final : public CRingWaveInDevice {
 public:
  // `choice` empty: the default input device; a number: that PortAudio index; otherwise the
  // first input device whose name contains the text.
  explicit CPortAudioDevice(std::string choice = {});
  ~CPortAudioDevice() override;

  int GetNumDevs() override;
  int GetDevCaps(WaveInCaps& caps) override;
  int Open(const WaveFormat& format, CWaveEvent* pEvent) override;
  int Start() override;
  int Stop() override;
  int Close() override;
  std::string ErrorText(int nError) const override;

  // Times PortAudio reported that input was lost before it reached us.
  std::uint64_t InputOverflows() const { return m_nOverflows.load(); }

  // Called by the audio callback.
  void OnAudio(const std::int16_t* pSamples, unsigned long nFrames, unsigned long nStatusFlags);

 private:
  int ChosenDevice() const;  // PortAudio index, or -1

  std::string m_choice;
  std::unique_ptr<CPortAudioSession> m_pSession;
  void* m_pStream = nullptr;  // PaStream
  // Set before the stream starts: the recorder's worker calls Start again for every buffer,
  // possibly while the first Start is still inside Pa_StartStream.
  std::atomic<bool> m_bStarted{false};
  std::atomic<std::uint64_t> m_nOverflows{0};
};
