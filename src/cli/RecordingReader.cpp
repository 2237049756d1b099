#include "cli/RecordingReader.h"

bool CRecordingReader::ReadBuffer() {
  if (m_bExhausted) {
    return false;
  }
  std::size_t nGot = m_reader.Read(m_buffer.data(), m_buffer.size());
  while (nGot < m_buffer.size() && m_nPadLeft > 0) {
    m_buffer[nGot++] = 0;
    --m_nPadLeft;
  }
  if (nGot < m_buffer.size()) {
    m_bExhausted = true;  // a final partial buffer is never delivered
    return false;
  }
  return true;
}
