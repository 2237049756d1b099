#include "capture/PortAudioDevice.h"

#include <fcntl.h>
#include <portaudio.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace {

// PortAudio errors are negative; wave-input codes are small positive numbers. Errors of
// PortAudio are returned as 1000 - paError, so that ErrorText can give PortAudio's text.
constexpr int kPortAudioBase = 1000;

// A failed PortAudio call is reported with PortAudio's own text on standard error (the
// recorder then shows its fixed message).
int FromPaError(const char* pszCall, PaError nError) {
  if (nError == paNoError) {
    return kWaveOk;
  }
  std::fprintf(stderr, "Sonavel: %s failed: %s\n", pszCall, Pa_GetErrorText(nError));
  return kPortAudioBase - nError;
}

extern "C" int AudioCallback(const void* pInput, void* /*pOutput*/, unsigned long nFrames,
                             const PaStreamCallbackTimeInfo* /*pTime*/,
                             PaStreamCallbackFlags nFlags, void* pUser) {
  static_cast<CPortAudioDevice*>(pUser)->OnAudio(static_cast<const std::int16_t*>(pInput), nFrames,
                                                 nFlags);
  return paContinue;
}

}  // namespace

namespace {

// ALSA and JACK print a hundred lines of probing noise while PortAudio starts; they go to
// /dev/null unless SONAVEL_AUDIO_DEBUG is set. Our own errors are reported afterwards.
PaError QuietInitialize() {
  if (std::getenv("SONAVEL_AUDIO_DEBUG") != nullptr) {
    return Pa_Initialize();
  }
  std::fflush(stderr);
  const int nSaved = ::dup(STDERR_FILENO);
  const int nNull = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (nSaved < 0 || nNull < 0) {
    if (nSaved >= 0) {
      ::close(nSaved);
    }
    if (nNull >= 0) {
      ::close(nNull);
    }
    return Pa_Initialize();
  }
  ::dup2(nNull, STDERR_FILENO);
  const PaError nError = Pa_Initialize();
  std::fflush(stderr);
  ::dup2(nSaved, STDERR_FILENO);
  ::close(nSaved);
  ::close(nNull);
  return nError;
}

}  // namespace

CPortAudioSession::CPortAudioSession() : m_nError(QuietInitialize()) {}

CPortAudioSession::~CPortAudioSession() {
  if (m_nError == paNoError) {
    Pa_Terminate();
  }
}

std::string CPortAudioSession::ErrorText() const { return Pa_GetErrorText(m_nError); }

std::vector<PortAudioInput> ListPortAudioInputs(std::string& error) {
  std::vector<PortAudioInput> inputs;
  const CPortAudioSession session;
  if (!session.Ok()) {
    error = "PortAudio could not start: " + session.ErrorText();
    return inputs;
  }
  const PaDeviceIndex nDefault = Pa_GetDefaultInputDevice();
  const PaDeviceIndex nCount = Pa_GetDeviceCount();
  for (PaDeviceIndex k = 0; k < nCount; ++k) {
    const PaDeviceInfo* pInfo = Pa_GetDeviceInfo(k);
    if (pInfo == nullptr || pInfo->maxInputChannels < 1) {
      continue;
    }
    PortAudioInput input;
    input.nIndex = k;
    input.name = pInfo->name != nullptr ? pInfo->name : "";
    const PaHostApiInfo* pApi = Pa_GetHostApiInfo(pInfo->hostApi);
    input.hostApi = pApi != nullptr && pApi->name != nullptr ? pApi->name : "";
    input.nMaxChannels = pInfo->maxInputChannels;
    input.dDefaultRate = pInfo->defaultSampleRate;
    input.bDefault = k == nDefault;
    inputs.push_back(input);
  }
  return inputs;
}

CPortAudioDevice::CPortAudioDevice(std::string choice)
    : m_choice(std::move(choice)), m_pSession(std::make_unique<CPortAudioSession>()) {}

CPortAudioDevice::~CPortAudioDevice() { CPortAudioDevice::Close(); }

int CPortAudioDevice::ChosenDevice() const {
  if (!m_pSession->Ok()) {
    return -1;
  }
  if (m_choice.empty()) {
    const PaDeviceIndex nDefault = Pa_GetDefaultInputDevice();
    const PaDeviceInfo* pInfo = nDefault == paNoDevice ? nullptr : Pa_GetDeviceInfo(nDefault);
    return pInfo != nullptr && pInfo->maxInputChannels > 0 ? nDefault : -1;
  }
  char* pEnd = nullptr;
  const long nIndex = std::strtol(m_choice.c_str(), &pEnd, 10);
  const bool bNumber = pEnd != m_choice.c_str() && *pEnd == '\0';
  const PaDeviceIndex nCount = Pa_GetDeviceCount();
  for (PaDeviceIndex k = 0; k < nCount; ++k) {
    const PaDeviceInfo* pInfo = Pa_GetDeviceInfo(k);
    if (pInfo == nullptr || pInfo->maxInputChannels < 1) {
      continue;
    }
    if (bNumber ? k == nIndex
                : pInfo->name != nullptr &&
                      std::string(pInfo->name).find(m_choice) != std::string::npos) {
      return k;
    }
  }
  return -1;
}

int CPortAudioDevice::GetNumDevs() {
  if (!m_pSession->Ok()) {
    std::fprintf(stderr, "Sonavel: Pa_Initialize failed: %s\n", m_pSession->ErrorText().c_str());
    return 0;
  }
  return ChosenDevice() >= 0 ? 1 : 0;
}

int CPortAudioDevice::GetDevCaps(WaveInCaps& caps) {
  const int nDevice = ChosenDevice();
  const PaDeviceInfo* pInfo = nDevice >= 0 ? Pa_GetDeviceInfo(nDevice) : nullptr;
  if (pInfo == nullptr) {
    return kWaveErrBadDevice;
  }
  caps.name = pInfo->name != nullptr ? pInfo->name : "";
  caps.nChannels = pInfo->maxInputChannels;
  return kWaveOk;
}

int CPortAudioDevice::Open(const WaveFormat& format, CWaveEvent* pEvent) {
  if (m_pStream != nullptr) {
    return kWaveErrAllocated;
  }
  if (format.wFormatTag != 1 || format.nChannels != 1 || format.wBitsPerSample != 16) {
    return kWaveErrBadFormat;
  }
  const int nDevice = ChosenDevice();
  const PaDeviceInfo* pInfo = nDevice >= 0 ? Pa_GetDeviceInfo(nDevice) : nullptr;
  if (pInfo == nullptr) {
    return kWaveErrBadDevice;
  }
  PaStreamParameters input{};
  input.device = nDevice;
  input.channelCount = 1;
  input.sampleFormat = paInt16;
  input.suggestedLatency = pInfo->defaultLowInputLatency;
  PaStream* pStream = nullptr;
  const PaError nError =
      Pa_OpenStream(&pStream, &input, nullptr, static_cast<double>(format.nSamplesPerSec),
                    paFramesPerBufferUnspecified, paNoFlag, AudioCallback, this);
  if (nError != paNoError) {
    return FromPaError("Pa_OpenStream", nError);
  }
  m_pStream = pStream;
  ResetRing();
  Attach(pEvent);
  return kWaveOk;
}

int CPortAudioDevice::Start() {
  if (m_pStream == nullptr) {
    return kWaveErrNotEnabled;
  }
  if (m_bStarted.exchange(true)) {
    return kWaveOk;  // re-armed buffers simply keep the stream running
  }
  const PaError nError = Pa_StartStream(m_pStream);
  if (nError != paNoError) {
    m_bStarted = false;
  }
  return FromPaError("Pa_StartStream", nError);
}

int CPortAudioDevice::Stop() {
  if (m_pStream == nullptr) {
    return kWaveErrNotEnabled;
  }
  PaError nError = paNoError;
  if (m_bStarted.exchange(false)) {
    nError = Pa_StopStream(m_pStream);
  }
  return FromPaError("Pa_StopStream", nError);
}

int CPortAudioDevice::Close() {
  if (m_pStream == nullptr) {
    return kWaveErrNotEnabled;
  }
  CPortAudioDevice::Stop();
  const PaError nError = Pa_CloseStream(m_pStream);
  m_pStream = nullptr;
  Detach();
  ResetRing();
  return FromPaError("Pa_CloseStream", nError);
}

std::string CPortAudioDevice::ErrorText(int nError) const {
  if (nError > kPortAudioBase / 2) {
    return Pa_GetErrorText(kPortAudioBase - nError);
  }
  return CWaveInDevice::ErrorText(nError);
}

void CPortAudioDevice::OnAudio(const std::int16_t* pSamples, unsigned long nFrames,
                               unsigned long nStatusFlags) {
  if ((nStatusFlags & paInputOverflow) != 0U) {
    m_nOverflows.fetch_add(1, std::memory_order_relaxed);
  }
  if (pSamples != nullptr) {
    Push(pSamples, nFrames);
  }
}
