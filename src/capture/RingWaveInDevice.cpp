#include "capture/RingWaveInDevice.h"

#include <algorithm>

std::string CWaveInDevice::ErrorText(int nError) const {
  switch (nError) {
    case kWaveOk:
      return "no error";
    case kWaveErrBadDevice:
      return "no such device";
    case kWaveErrNotEnabled:
      return "the device is not open";
    case kWaveErrAllocated:
      return "the device is already open";
    case kWaveErrNoMem:
      return "out of memory";
    case kWaveErrBadFormat:
      return "the format is not supported";
    case kWaveErrStillPlaying:
      return "the buffer is still queued";
    case kWaveErrUnprepared:
      return "the buffer is not prepared";
    default:
      return "device error " + std::to_string(nError);
  }
}

CRingWaveInDevice::CRingWaveInDevice(std::size_t nRingSamples) {
  std::size_t nSize = 1024;
  while (nSize < nRingSamples) {
    nSize *= 2;
  }
  m_ring.assign(nSize, 0);
  m_nMask = nSize - 1;
}

int CRingWaveInDevice::PrepareHeader(WaveHeader& header) {
  if (header.pData == nullptr || header.dwBufferLength == 0 || header.dwBufferLength % 2 != 0) {
    return kWaveErrError;
  }
  if ((header.dwFlags.load() & kHeaderInQueue) != 0U) {
    return kWaveErrStillPlaying;
  }
  header.dwFlags.store(kHeaderPrepared);
  return kWaveOk;
}

int CRingWaveInDevice::UnprepareHeader(WaveHeader& header) {
  const std::uint32_t nFlags = header.dwFlags.load();
  if ((nFlags & kHeaderInQueue) != 0U) {
    return kWaveErrStillPlaying;
  }
  header.dwFlags.store(nFlags & ~kHeaderPrepared);
  return kWaveOk;
}

int CRingWaveInDevice::AddBuffer(WaveHeader& header) {
  const std::uint32_t nFlags = header.dwFlags.load();
  if ((nFlags & kHeaderPrepared) == 0U) {
    return kWaveErrUnprepared;
  }
  if ((nFlags & kHeaderInQueue) != 0U || m_pQueued.load() != nullptr) {
    return kWaveErrStillPlaying;
  }
  header.dwBytesRecorded = 0;
  header.dwFlags.store((nFlags & ~kHeaderDone) | kHeaderInQueue);
  m_pQueued.store(&header, std::memory_order_release);
  TryComplete();  // samples may already be waiting
  return kWaveOk;
}

void CRingWaveInDevice::Push(const std::int16_t* pSamples, std::size_t nCount) {
  const std::uint64_t nWritten = m_nWritten.load(std::memory_order_relaxed);
  const std::uint64_t nRead = m_nRead.load(std::memory_order_acquire);
  const std::size_t nFree = m_ring.size() - static_cast<std::size_t>(nWritten - nRead);
  const std::size_t nTake = std::min(nFree, nCount);
  for (std::size_t k = 0; k < nTake; ++k) {
    m_ring[static_cast<std::size_t>(nWritten + k) & m_nMask] = pSamples[k];
  }
  m_nWritten.store(nWritten + nTake, std::memory_order_release);
  if (nTake < nCount) {
    m_nDropped.fetch_add(nCount - nTake, std::memory_order_relaxed);
  }
  TryComplete();
}

void CRingWaveInDevice::TryComplete() {
  for (int nAttempt = 0; nAttempt < 2; ++nAttempt) {
    // Whoever takes the queued header owns it and the ring's read side until it is filled
    // or put back; the other thread finds nothing queued and leaves.
    WaveHeader* pHeader = m_pQueued.exchange(nullptr, std::memory_order_acq_rel);
    if (pHeader == nullptr) {
      return;
    }
    const std::size_t nNeed = pHeader->dwBufferLength / 2;
    const std::uint64_t nRead = m_nRead.load(std::memory_order_acquire);
    if (m_nWritten.load(std::memory_order_acquire) - nRead >= nNeed) {
      for (std::size_t k = 0; k < nNeed; ++k) {
        pHeader->pData[k] = m_ring[static_cast<std::size_t>(nRead + k) & m_nMask];
      }
      m_nRead.store(nRead + nNeed, std::memory_order_release);
      pHeader->dwBytesRecorded = static_cast<std::uint32_t>(nNeed * 2);
      pHeader->dwFlags.store((pHeader->dwFlags.load() & ~kHeaderInQueue) | kHeaderDone,
                             std::memory_order_release);
      m_nDelivered.fetch_add(1, std::memory_order_relaxed);
      if (CWaveEvent* pEvent = m_pEvent.load(std::memory_order_acquire)) {
        pEvent->Set();
      }
      return;
    }
    m_pQueued.store(pHeader, std::memory_order_release);  // not enough yet: put it back
    // Samples pushed while the header was held were not checked against it: look again.
    if (m_nWritten.load(std::memory_order_acquire) - nRead < nNeed) {
      return;
    }
  }
}

void CRingWaveInDevice::ResetRing() {
  if (WaveHeader* pHeader = m_pQueued.exchange(nullptr)) {
    pHeader->dwFlags.store((pHeader->dwFlags.load() & ~kHeaderInQueue) | kHeaderDone);
  }
  m_nRead.store(m_nWritten.load());
}

void CRingWaveInDevice::Attach(CWaveEvent* pEvent) {
  m_pEvent.store(pEvent, std::memory_order_release);
  if (pEvent != nullptr) {
    pEvent->Set();
  }
}

void CRingWaveInDevice::Detach() { m_pEvent.store(nullptr, std::memory_order_release); }
