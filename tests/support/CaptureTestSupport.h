// A recorder that keeps every buffer handed to ProcessBuffer, and a message service that keeps
// every text, for the capture tests.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "analysis/SampleHistory.h"
#include "capture/WaveInRecorder.h"
#include "training/FrontEnd.h"

// Keeps the samples of every buffer handed to ProcessBuffer, in order.
class CCollectingRecorder : public CWaveInRecorder {
 public:
  ~CCollectingRecorder() override { Stop(); }  // before the override goes away
  int ProcessBuffer(const std::int16_t* pSamples) override {
    const std::lock_guard lock(m_mutex);
    m_samples.insert(m_samples.end(), pSamples, pSamples + kBufferLen);
    m_changed.notify_all();
    return 0;
  }
  // Waits (at most 20 s) until `nCount` samples have arrived.
  bool WaitForSamples(std::size_t nCount) {
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::seconds(20),
                              [&] { return m_samples.size() >= nCount; });
  }
  std::vector<std::int16_t> Captured() {
    const std::lock_guard lock(m_mutex);
    return m_samples;
  }

 private:
  std::mutex m_mutex;
  std::condition_variable m_changed;
  std::vector<std::int16_t> m_samples;
};

// Keeps every message shown, in order; any thread.
class CRecordingMessages : public CMessageBoxService {
 public:
  void ShowMessage(const char* pszText) override {
    const std::lock_guard lock(m_mutex);
    m_texts.emplace_back(pszText);
  }
  void Clear() {
    const std::lock_guard lock(m_mutex);
    m_texts.clear();
  }
  std::vector<std::string> Texts() const {
    const std::lock_guard lock(m_mutex);
    return m_texts;
  }
  // The messages so far, forgetting them.
  std::vector<std::string> Take() {
    const std::lock_guard lock(m_mutex);
    return std::exchange(m_texts, {});
  }

 private:
  mutable std::mutex m_mutex;
  std::vector<std::string> m_texts;
};
