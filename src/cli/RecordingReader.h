// A recording as the command-line programs play it: full 512-sample buffers of the file's
// samples as CSoundFileReader delivers them (16-bit mono at 11025 Hz, converted when the file
// is in another format), then digital silence for the padding. A final partial buffer is never
// delivered. For one thread.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "analysis/SampleHistory.h"
#include "capture/SoundFileReader.h"

class CRecordingReader {
 public:
  // `nPadSamples` of silence follow the file's samples.
  explicit CRecordingReader(std::int64_t nPadSamples)
      : m_nPadSamples(nPadSamples), m_nPadLeft(nPadSamples) {}

  // Opens `path`. On failure returns false with a message for the user in `error`.
  bool Open(const std::string& path, std::string& error) { return m_reader.Open(path, error); }

  // Reads the next full buffer into Buffer(); false once no full buffer is left.
  bool ReadBuffer();

  // The buffer last read.
  const std::array<std::int16_t, kBufferLen>& Buffer() const { return m_buffer; }

  // Samples the file and the padding are expected to give (for progress reports).
  std::int64_t ExpectedSamples() const { return m_reader.ExpectedSamples() + m_nPadSamples; }

  // Non-empty once reading the file has failed.
  const std::string& Error() const { return m_reader.Error(); }

 private:
  CSoundFileReader m_reader;
  std::int64_t m_nPadSamples;
  std::int64_t m_nPadLeft;    // padding samples still to deliver
  bool m_bExhausted = false;  // no full buffer will come any more
  std::array<std::int16_t, kBufferLen> m_buffer{};
};
