#include "capture/SoundFileReader.h"

#include <fcntl.h>
#include <samplerate.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

#include "analysis/SampleHistory.h"

namespace {

constexpr std::size_t kChunkFrames = 4096;
constexpr int kMaxChannels = 1024;

std::int16_t ToSample16(double dValue) {
  const double dScaled = std::round(dValue * 32768.0);
  if (!(dScaled > -32768.0)) {
    return dScaled != dScaled ? std::int16_t{0} : std::int16_t{-32768};
  }
  if (dScaled >= 32767.0) {
    return 32767;
  }
  return static_cast<std::int16_t>(dScaled);
}

// A regular file as libsndfile's source, read ahead in blocks: libsndfile asks for the few
// bytes of a header field or a kilobyte of samples at a time, and each block of the file is
// read from the system once. Seeks only move the position; the next read that leaves the
// block reads the block there.
class CBlockSource {
 public:
  explicit CBlockSource(std::size_t nBlockBytes) : m_block(nBlockBytes) {}
  ~CBlockSource() {
    if (m_nFd >= 0) {
      ::close(m_nFd);
    }
  }
  CBlockSource(const CBlockSource&) = delete;
  CBlockSource& operator=(const CBlockSource&) = delete;

  // False with errno set when the file cannot be opened.
  bool Open(const std::string& path) {
    m_nFd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    return m_nFd >= 0;
  }

  // The error of the last read that failed, 0 if none did.
  int ReadErrno() const { return m_nReadErrno; }

  static SF_VIRTUAL_IO Callbacks() {
    SF_VIRTUAL_IO io{};
    io.get_filelen = [](void* pSelf) { return Self(pSelf).Length(); };
    io.seek = [](sf_count_t nOffset, int nWhence, void* pSelf) {
      return Self(pSelf).Seek(nOffset, nWhence);
    };
    io.read = [](void* pOut, sf_count_t nCount, void* pSelf) {
      return Self(pSelf).Read(static_cast<char*>(pOut), nCount);
    };
    io.write = [](const void*, sf_count_t, void*) { return sf_count_t{0}; };
    io.tell = [](void* pSelf) { return Self(pSelf).m_nPos; };
    return io;
  }

 private:
  static CBlockSource& Self(void* pSelf) { return *static_cast<CBlockSource*>(pSelf); }

  sf_count_t Length() const {
    struct stat st {};
    return ::fstat(m_nFd, &st) == 0 ? static_cast<sf_count_t>(st.st_size) : -1;
  }

  sf_count_t Seek(sf_count_t nOffset, int nWhence) {
    sf_count_t nBase = 0;
    if (nWhence == SEEK_CUR) {
      nBase = m_nPos;
    } else if (nWhence == SEEK_END) {
      nBase = Length();
    } else if (nWhence != SEEK_SET) {
      return -1;
    }
    if (nBase < 0 || nOffset < -nBase) {
      return -1;
    }
    m_nPos = nBase + nOffset;
    return m_nPos;
  }

  sf_count_t Read(char* pOut, sf_count_t nCount) {
    sf_count_t nDone = 0;
    while (nDone < nCount) {
      const sf_count_t nBlockEnd = m_nBlockStart + static_cast<sf_count_t>(m_nBlockLen);
      if (m_nPos >= m_nBlockStart && m_nPos < nBlockEnd) {
        const sf_count_t nTake = std::min(nCount - nDone, nBlockEnd - m_nPos);
        std::memcpy(pOut + nDone, m_block.data() + (m_nPos - m_nBlockStart),
                    static_cast<std::size_t>(nTake));
        m_nPos += nTake;
        nDone += nTake;
        continue;
      }
      if (m_nPos != m_nFdPos && ::lseek(m_nFd, static_cast<off_t>(m_nPos), SEEK_SET) < 0) {
        m_nReadErrno = errno;
        break;
      }
      m_nFdPos = m_nPos;
      const ssize_t nGot = ::read(m_nFd, m_block.data(), m_block.size());
      if (nGot < 0) {
        if (errno == EINTR) {
          continue;
        }
        m_nReadErrno = errno;
        m_nFdPos = -1;  // unknown: seek before the next read
        break;
      }
      m_nBlockStart = m_nPos;
      m_nBlockLen = static_cast<std::size_t>(nGot);
      m_nFdPos += nGot;
      if (nGot == 0) {
        break;  // the end of the file
      }
    }
    return nDone;
  }

  int m_nFd = -1;
  std::vector<char> m_block;
  sf_count_t m_nBlockStart = 0;  // file offset of the block's first byte
  std::size_t m_nBlockLen = 0;   // bytes of the file in the block
  sf_count_t m_nPos = 0;         // file offset libsndfile reads next
  sf_count_t m_nFdPos = 0;       // file offset of the descriptor
  int m_nReadErrno = 0;
};

// The text libsndfile gives for a failed system call.
std::string SystemErrorText(int nErrno) {
  return std::string("System error : ") + std::strerror(nErrno) + ".";
}

}  // namespace

struct CSoundFileReader::Impl {
  std::unique_ptr<CBlockSource> pSource;  // null: libsndfile reads the file itself
  SNDFILE* pFile = nullptr;
  SF_INFO info{};
  SRC_STATE* pResampler = nullptr;
  bool bPassThrough = false;
  bool bInputDone = false;  // the file has been read to its end
  bool bFlushed = false;    // the resampler has given everything
  std::string error;
  sf_count_t nFramesRead = 0;

  std::vector<float> frames;  // one chunk as read, interleaved
  std::vector<float> mono;    // the chunk averaged to mono
  std::size_t nMonoPos = 0;   // next mono sample to hand to the resampler
  std::size_t nMonoLen = 0;
  std::vector<float> resampled;
  std::vector<std::int16_t> ready;  // converted samples not yet handed out
  std::size_t nReadyPos = 0;

  ~Impl() {
    if (pResampler != nullptr) {
      src_delete(pResampler);
    }
    if (pFile != nullptr) {
      sf_close(pFile);
    }
  }

  void Fail(const std::string& what) {
    if (error.empty()) {
      error = what;
    }
    bInputDone = true;
    bFlushed = true;
  }

  // After a read from the file: fails the reader if that read failed.
  bool ReadFailed() {
    if (sf_error(pFile) != SF_ERR_NO_ERROR) {
      Fail(std::string("cannot read the sound file: ") + sf_strerror(pFile));
    } else if (pSource != nullptr && pSource->ReadErrno() != 0) {
      Fail("cannot read the sound file: " + SystemErrorText(pSource->ReadErrno()));
    } else {
      return false;
    }
    return true;
  }

  // The file's end. Where the header gives the exact length, fewer frames than it promised
  // mean the file was cut short while it was read (one already short when it was opened
  // has its length clipped by libsndfile, or fails to open).
  void EndOfInput() {
    bInputDone = true;
    const int nSub = info.format & SF_FORMAT_SUBMASK;
    const bool bExactLength = (nSub >= SF_FORMAT_PCM_S8 && nSub <= SF_FORMAT_DOUBLE) ||
                              nSub == SF_FORMAT_ULAW || nSub == SF_FORMAT_ALAW ||
                              (info.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_FLAC;
    if (bExactLength && nFramesRead < info.frames && info.frames != SF_COUNT_MAX) {
      Fail("cannot read the sound file: it was cut short while it was read (" +
           std::to_string(nFramesRead) + " of " + std::to_string(info.frames) + " frames)");
    }
  }

  // Reads the next chunk of the file into `mono`; false at the end.
  bool ReadMonoChunk() {
    const auto nChannels = static_cast<std::size_t>(info.channels);
    const sf_count_t nGot =
        sf_readf_float(pFile, frames.data(), static_cast<sf_count_t>(kChunkFrames));
    if (ReadFailed()) {
      return false;
    }
    if (nGot <= 0) {
      EndOfInput();
      return false;
    }
    nFramesRead += nGot;
    const auto nFrames = static_cast<std::size_t>(nGot);
    for (std::size_t f = 0; f < nFrames; ++f) {
      double dSum = 0.0;
      for (std::size_t c = 0; c < nChannels; ++c) {
        dSum += static_cast<double>(frames[f * nChannels + c]);
      }
      mono[f] = static_cast<float>(dSum / static_cast<double>(nChannels));
    }
    nMonoPos = 0;
    nMonoLen = nFrames;
    return true;
  }

  // Produces more converted samples into `ready`; false when nothing more will come.
  bool Produce() {
    ready.clear();
    nReadyPos = 0;
    while (ready.empty()) {
      if (bFlushed) {
        return false;
      }
      if (nMonoPos == nMonoLen && !bInputDone) {
        ReadMonoChunk();
      }
      if (pResampler == nullptr) {
        // Same rate: only the channels are averaged.
        if (nMonoPos == nMonoLen) {
          bFlushed = bInputDone;
          continue;
        }
        for (; nMonoPos < nMonoLen; ++nMonoPos) {
          ready.push_back(ToSample16(static_cast<double>(mono[nMonoPos])));
        }
        continue;
      }
      SRC_DATA data{};
      data.data_in = mono.data() + nMonoPos;
      data.input_frames = static_cast<long>(nMonoLen - nMonoPos);
      data.data_out = resampled.data();
      data.output_frames = static_cast<long>(resampled.size());
      data.src_ratio = static_cast<double>(kSampleRateHz) / info.samplerate;
      data.end_of_input = bInputDone && nMonoPos == nMonoLen ? 1 : 0;
      const int nErr = src_process(pResampler, &data);
      if (nErr != 0) {
        Fail(std::string("cannot resample the sound file: ") + src_strerror(nErr));
        return false;
      }
      nMonoPos += static_cast<std::size_t>(data.input_frames_used);
      for (long k = 0; k < data.output_frames_gen; ++k) {
        ready.push_back(ToSample16(static_cast<double>(resampled[static_cast<std::size_t>(k)])));
      }
      if (data.end_of_input != 0 && data.output_frames_gen == 0) {
        bFlushed = true;
      }
    }
    return true;
  }
};

CSoundFileReader::CSoundFileReader(std::size_t nReadAheadBytes)
    : m_nReadAheadBytes(nReadAheadBytes), m_pImpl(std::make_unique<Impl>()) {}

CSoundFileReader::~CSoundFileReader() = default;

bool CSoundFileReader::Open(const std::string& path, std::string& error) {
  // A reader opened before, or left half open by a failure, starts afresh; a failure closes
  // what was opened.
  m_pImpl = std::make_unique<Impl>();
  Impl& d = *m_pImpl;
  const auto fail = [&](std::string text) {
    error = std::move(text);
    m_pImpl = std::make_unique<Impl>();
    return false;
  };
  std::error_code ec;
  const auto status = std::filesystem::status(path, ec);
  if (!std::filesystem::exists(status)) {
    return fail("cannot open the input file " + path + ": no such file");
  }
  if (std::filesystem::is_directory(status)) {
    return fail("cannot open the input file " + path + ": it is a folder");
  }
  if (std::filesystem::is_regular_file(status) && std::filesystem::file_size(path, ec) == 0) {
    return fail("cannot read the input file " + path + ": the file is empty");
  }
  if (m_nReadAheadBytes > 0 && std::filesystem::is_regular_file(status)) {
    d.pSource = std::make_unique<CBlockSource>(m_nReadAheadBytes);
    if (!d.pSource->Open(path)) {
      return fail("cannot read the input file " + path + ": " + SystemErrorText(errno));
    }
    SF_VIRTUAL_IO io = CBlockSource::Callbacks();
    d.pFile = sf_open_virtual(&io, SFM_READ, &d.info, d.pSource.get());
  } else {
    d.pFile = sf_open(path.c_str(), SFM_READ, &d.info);
  }
  if (d.pFile == nullptr) {
    const int nErrno = d.pSource != nullptr ? d.pSource->ReadErrno() : 0;
    return fail("cannot read the input file " + path + ": " +
                (nErrno != 0 ? SystemErrorText(nErrno) : std::string(sf_strerror(nullptr))));
  }
  if (d.info.channels < 1 || d.info.channels > kMaxChannels) {
    return fail("cannot read the input file " + path + ": unsupported channel count " +
                std::to_string(d.info.channels));
  }
  const double dRatio = static_cast<double>(kSampleRateHz) / d.info.samplerate;
  if (d.info.samplerate <= 0 || src_is_valid_ratio(dRatio) == 0) {
    return fail("cannot read the input file " + path + ": unsupported sample rate " +
                std::to_string(d.info.samplerate) + " Hz");
  }

  d.bPassThrough = (d.info.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_WAV &&
                   (d.info.format & SF_FORMAT_SUBMASK) == SF_FORMAT_PCM_16 &&
                   d.info.channels == 1 && d.info.samplerate == kSampleRateHz;
  if (!d.bPassThrough) {
    d.frames.resize(kChunkFrames * static_cast<std::size_t>(d.info.channels));
    d.mono.resize(kChunkFrames);
    if (d.info.samplerate != kSampleRateHz) {
      int nErr = 0;
      d.pResampler = src_new(SRC_SINC_BEST_QUALITY, 1, &nErr);
      if (d.pResampler == nullptr) {
        return fail(std::string("cannot set up the resampler: ") + src_strerror(nErr));
      }
      d.resampled.resize(kChunkFrames * 2);
    }
  }
  return true;
}

std::size_t CSoundFileReader::Read(std::int16_t* pnOut, std::size_t nCount) {
  Impl& d = *m_pImpl;
  if (d.pFile == nullptr) {
    return 0;
  }
  if (d.bPassThrough) {
    std::size_t nDone = 0;
    while (nDone < nCount && !d.bInputDone) {
      const sf_count_t nGot =
          sf_read_short(d.pFile, pnOut + nDone, static_cast<sf_count_t>(nCount - nDone));
      if (d.ReadFailed()) {
        break;
      }
      if (nGot <= 0) {
        d.EndOfInput();
        break;
      }
      d.nFramesRead += nGot;
      nDone += static_cast<std::size_t>(nGot);
    }
    return nDone;
  }
  std::size_t nDone = 0;
  while (nDone < nCount) {
    if (d.nReadyPos == d.ready.size() && !d.Produce()) {
      break;
    }
    const std::size_t nTake = std::min(nCount - nDone, d.ready.size() - d.nReadyPos);
    std::copy_n(d.ready.begin() + static_cast<std::ptrdiff_t>(d.nReadyPos), nTake, pnOut + nDone);
    d.nReadyPos += nTake;
    nDone += nTake;
  }
  return nDone;
}

const std::string& CSoundFileReader::Error() const { return m_pImpl->error; }

std::int64_t CSoundFileReader::ExpectedSamples() const {
  const Impl& d = *m_pImpl;
  if (d.info.samplerate <= 0) {
    return 0;
  }
  return static_cast<std::int64_t>(static_cast<double>(d.info.frames) * kSampleRateHz /
                                   d.info.samplerate);
}

bool CSoundFileReader::IsPassThrough() const { return m_pImpl->bPassThrough; }
