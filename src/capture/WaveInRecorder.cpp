#include "capture/WaveInRecorder.h"

#include <algorithm>
#include <cstring>

#include "analysis/SampleHistory.h"
#include "training/FrontEnd.h"

CWaveInRecorder g_recorder;

CWaveInRecorder::CWaveInRecorder(std::int32_t nBufferLen)
    : m_sBuffer{},
      m_sCompleted{},
      m_nSampleRate(kSampleRateHz),
      m_nBufferLen(std::clamp(nBufferLen, 1, kBufferCapacity)) {}

CWaveInRecorder::~CWaveInRecorder() { Stop(); }

void CWaveInRecorder::SetDevice(CWaveInDevice* pDevice) { m_pDevice = pDevice; }

int CWaveInRecorder::ClearBuffer() {
  std::memset(m_sBuffer, 0, sizeof m_sBuffer);
  return 0;
}

int CWaveInRecorder::ProcessBuffer(const std::int16_t* pSamples) {
  ::ProcessBuffer(pSamples);
  return 0;
}

void CWaveInRecorder::SetFormat(std::uint16_t nChannels, std::uint32_t nRate, std::uint16_t nBits) {
  m_WaveFormat.wFormatTag = 1;
  m_WaveFormat.nChannels = nChannels;
  m_WaveFormat.nSamplesPerSec = nRate;
  m_WaveFormat.wBitsPerSample = nBits;
  m_WaveFormat.nAvgBytesPerSec = nChannels * nBits * nRate / 8U;
  m_WaveFormat.nBlockAlign = static_cast<std::uint16_t>(nChannels * nBits / 8U);
  m_WaveFormat.cbSize = 0;
}

bool CWaveInRecorder::ArmAndPrepare(int& nResult) {
  m_WaveHdr.pData = m_sBuffer;
  m_WaveHdr.dwBufferLength = static_cast<std::uint32_t>(m_nBufferLen) * 2U;
  m_WaveHdr.dwFlags.store(0);
  nResult = m_pDevice->PrepareHeader(m_WaveHdr);
  if (nResult != kWaveOk || m_WaveHdr.dwFlags.load() != kHeaderPrepared) {
    ShowMessageBox("Cannot Prepare Header !");
    return false;
  }
  return true;
}

bool CWaveInRecorder::QueueBuffer(int& nResult) {
  m_bQueued = true;  // before the device can fill it
  nResult = m_pDevice->AddBuffer(m_WaveHdr);
  if (nResult != kWaveOk) {
    m_bQueued = false;
    return false;
  }
  return true;
}

int CWaveInRecorder::Start() {
  if (m_pDevice == nullptr || m_pDevice->GetNumDevs() == 0) {
    ShowMessageBox("No Sound Device");
    return 0;
  }
  if (m_pDevice->GetDevCaps(m_WaveInCaps) != kWaveOk) {
    ShowMessageBox("Cannot determine sound card capabilities !");
  }
  Stop();  // a second Start begins from a clean state
  m_pEvent = std::make_unique<CWaveEvent>();
  m_bStop = 0;
  m_nProcessed = 0;
  m_bQueued = false;
  // The worker waits before the device is opened.
  m_worker = std::thread(WorkerProc, this);

  SetFormat(1, static_cast<std::uint32_t>(m_nSampleRate), 16);
  int nResult = m_pDevice->Open(m_WaveFormat, m_pEvent.get());
  if (nResult != kWaveOk) {
    ShowMessageBox("Cannot Open Sound Input Device!");
    return nResult;
  }
  m_bDeviceOpen = true;
  if (!ArmAndPrepare(nResult)) {
    return nResult;
  }
  if (!QueueBuffer(nResult)) {
    ShowMessageBox("Cannot Add Buffer !");
    return nResult;
  }
  nResult = m_pDevice->Start();
  if (nResult != kWaveOk) {
    ShowMessageBox("Cannot Start Wave In !");
    return nResult;
  }
  return 0;
}

void CWaveInRecorder::Requeue() {
  if (m_pDevice->UnprepareHeader(m_WaveHdr) != kWaveOk) {
    ShowMessageBox("Cannot UnPrepareHeader !");
    return;  // capture ends here
  }
  int nResult = kWaveOk;
  ArmAndPrepare(nResult);
  if (!QueueBuffer(nResult)) {
    ShowMessageBox("Cannot Add Buffer !");
  }
  if (m_pDevice->Start() != kWaveOk) {
    ShowMessageBox("Cannot Start Wave In !");
  }
}

bool CWaveInRecorder::TakeFilledBuffer() {
  const std::uint32_t nFlags = m_WaveHdr.dwFlags.load(std::memory_order_acquire);
  return (nFlags & (kHeaderDone | kHeaderInQueue)) == kHeaderDone && m_bQueued.exchange(false);
}

int CWaveInRecorder::WorkerProc(CWaveInRecorder* pRecorder) {
  CWaveInRecorder& r = *pRecorder;
  r.m_pEvent->Wait();  // the device's signal on opening
  for (;;) {
    if (r.m_bStop.load() != 0) {
      return 0;
    }
    // The event does not count its signals: the opening's and the first buffer's may have
    // woken the worker once. So it waits only while the queued buffer is not yet filled.
    if (!r.TakeFilledBuffer()) {
      r.m_pEvent->Wait();
      continue;
    }
    // Keep the completed samples, then give the buffer back to the device at once.
    std::copy_n(r.m_sBuffer, r.m_nBufferLen, r.m_sCompleted);
    r.Requeue();
    r.ProcessBuffer(r.m_sCompleted);
    ++r.m_nProcessed;
  }
}

void CWaveInRecorder::Stop() {
  m_bStop = 1;
  if (m_pEvent) {
    m_pEvent->Set();
  }
  if (m_worker.joinable()) {
    m_worker.join();
  }
  if (m_bDeviceOpen) {
    m_pDevice->Stop();
    m_pDevice->Close();
    m_bDeviceOpen = false;
  }
  m_pEvent.reset();
}
