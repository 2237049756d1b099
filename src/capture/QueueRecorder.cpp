#include "capture/QueueRecorder.h"

#include <utility>

CQueueRecorder::~CQueueRecorder() { Stop(); }

int CQueueRecorder::ProcessBuffer(const std::int16_t* pSamples) {
  std::vector<std::int16_t> buffer(pSamples, pSamples + Header().dwBufferLength / 2);
  {
    const std::lock_guard lock(m_mutex);
    if (m_queue.size() >= m_nMaxQueued) {
      m_queue.pop_front();
      ++m_nDropped;
    }
    m_queue.push_back(std::move(buffer));
  }
  m_ready.notify_one();
  return 0;
}

bool CQueueRecorder::TakeBuffer(std::vector<std::int16_t>& samples,
                                std::chrono::milliseconds timeout) {
  std::unique_lock lock(m_mutex);
  if (!m_ready.wait_for(lock, timeout, [this] { return !m_queue.empty(); })) {
    return false;
  }
  samples = std::move(m_queue.front());
  m_queue.pop_front();
  return true;
}

std::uint64_t CQueueRecorder::Dropped() const {
  const std::lock_guard lock(m_mutex);
  return m_nDropped;
}
