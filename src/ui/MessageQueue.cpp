#include "ui/MessageQueue.h"

#include <algorithm>

bool CMessageQueue::Post(const std::string& text) {
  const std::lock_guard lock(m_mutex);
  const auto found = std::find_if(m_entries.begin(), m_entries.end(),
                                  [&text](const CEntry& entry) { return entry.text == text; });
  if (found != m_entries.end()) {
    ++found->nRepeats;
    return false;
  }
  m_entries.push_back({text, 0});
  return m_entries.size() == 1;
}

bool CMessageQueue::Front(std::string& text) const {
  const std::lock_guard lock(m_mutex);
  if (m_entries.empty()) {
    return false;
  }
  text = m_entries.front().text;
  return true;
}

int CMessageQueue::Pop() {
  const std::lock_guard lock(m_mutex);
  if (m_entries.empty()) {
    return 0;
  }
  const int nRepeats = m_entries.front().nRepeats;
  m_entries.pop_front();
  return nRepeats;
}
