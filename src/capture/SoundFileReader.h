// Reads a recorded sound file as the sound card would deliver it: 16-bit mono samples at
// 11025 Hz. A 16-bit mono 11025 Hz PCM WAV file is passed through sample for sample; any
// other file that libsndfile reads is converted: channels averaged to mono, resampled to
// 11025 Hz (libsamplerate, best quality), rounded and clipped to 16 bits.
//
// Streams the file: memory does not grow with the length of the recording. A regular file is
// read ahead in blocks (64 KiB unless asked otherwise), one read call per block whatever the
// size of the reads made of the reader; other files (pipes) are read as libsndfile reads them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

class CSoundFileReader {
 public:
  static constexpr std::size_t kReadAheadBytes = std::size_t{64} * 1024;

  // `nReadAheadBytes` 0: no read-ahead; the file is read only as far as samples are asked for.
  explicit CSoundFileReader(std::size_t nReadAheadBytes = kReadAheadBytes);
  ~CSoundFileReader();
  CSoundFileReader(const CSoundFileReader&) = delete;
  CSoundFileReader& operator=(const CSoundFileReader&) = delete;

  // Opens `path`. On failure returns false with a message for the user in `error`.
  bool Open(const std::string& path, std::string& error);

  // Fills `pnOut` with up to `nCount` samples; fewer only at the end of the file or on a
  // read error (see Error()).
  std::size_t Read(std::int16_t* pnOut, std::size_t nCount);

  // Non-empty once reading has failed.
  const std::string& Error() const;

  // Samples at 11025 Hz the whole file is expected to give (for progress reports).
  std::int64_t ExpectedSamples() const;

  // Whether the file is used sample for sample, without conversion.
  bool IsPassThrough() const;

 private:
  struct Impl;
  std::size_t m_nReadAheadBytes;
  std::unique_ptr<Impl> m_pImpl;
};
