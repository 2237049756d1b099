// The sound-file input of sonavel-train on any bytes as a file: the reader opens it or says
// why not, reads at most 2^16 samples of it in 512-sample buffers (a short read only at the
// end, nothing after it), and when the whole file was read within that bound the trainer runs
// on it in virtual time: it must agree with the reader (exit 0 on a good file, 1 with a
// message on a file that cannot be opened or read).
#include <cmath>
#include <cstring>
#include <sstream>
#include <string>

#include "FuzzSupport.h"
#include "capture/SoundFileReader.h"
#include "cli/Trainer.h"
#include "training/NoteTables.h"

namespace {

constexpr std::size_t kMaxSamples = std::size_t{1} << 16;
constexpr std::size_t kBuffer = 512;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* pData, std::size_t nSize) {
  static const auto input = fuzz::ScratchPath("input");
  static const auto outDir = fuzz::ScratchPath("out");
  static const auto names = [] {
    auto path = fuzz::ScratchPath("note_symbol.txt");
    std::string text;
    for (int k = 0; k < kNoteCount; ++k) {
      text += StandardNoteName(k) + "\n";
    }
    fuzz::WriteWholeFile(path, reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
    return path;
  }();
  fuzz::WriteWholeFile(input, pData, nSize);

  CSoundFileReader reader;
  std::string error;
  const bool bOpen = reader.Open(input.string(), error);
  std::int16_t samples[kBuffer];
  bool bWhole = false;  // read to its end within the bound
  if (!bOpen) {
    FUZZ_CHECK(!error.empty());
    FUZZ_CHECK(reader.Read(samples, kBuffer) == 0);
  } else {
    (void)reader.ExpectedSamples();
    (void)reader.IsPassThrough();
    std::size_t nTotal = 0;
    while (nTotal < kMaxSamples) {
      std::memset(samples, 0, sizeof samples);
      const std::size_t nGot = reader.Read(samples, kBuffer);
      FUZZ_CHECK(nGot <= kBuffer);
      nTotal += nGot;
      if (nGot < kBuffer) {
        bWhole = true;
        break;
      }
    }
    if (bWhole) {
      FUZZ_CHECK(reader.Read(samples, kBuffer) == 0);  // the end stays the end
    } else {
      FUZZ_CHECK(reader.Error().empty());  // an error ends the reading
    }
  }
  if (!bOpen || bWhole) {
    const std::string inputPath = input.string();
    const std::string outPath = outDir.string();
    const std::string namesPath = names.string();
    const char* const argv[] = {"sonavel-train", "--input",      inputPath.c_str(), "--out",
                                outPath.c_str(), "--note-names", namesPath.c_str(), "--pad",
                                "0.1",           "--choices",    "N,R,B,X,N,N,D"};
    std::ostringstream out;
    std::ostringstream err;
    const int nCode = RunTrainer(static_cast<int>(std::size(argv)), argv, out, err);
    if (!bOpen || !reader.Error().empty()) {
      FUZZ_CHECK(nCode == 1 && err.str().rfind("sonavel-train: ", 0) == 0);
    } else {
      FUZZ_CHECK(nCode == 0 && err.str().empty());
      FUZZ_CHECK(out.str().rfind(">>>Play \n...\n", 0) == 0);
    }
  }
  return 0;
}

namespace fuzz {

namespace {

// `nFrames` frames of a 440 Hz tone, `nChannels` interleaved, as `nBits`-bit little-endian
// integers (8 bit: unsigned) or, with nBits 32 and bFloat, floats.
Bytes ToneData(int nFrames, int nChannels, int nBits, bool bFloat, bool bBigEndian = false) {
  Bytes bytes;
  for (int f = 0; f < nFrames; ++f) {
    const double v = 0.5 * std::sin(2.0 * 3.14159265358979 * 440.0 * f / 11025.0);
    for (int c = 0; c < nChannels; ++c) {
      std::uint64_t nValue = 0;
      if (bFloat) {
        const float fValue = static_cast<float>(v);
        std::uint32_t nBitsOf = 0;
        std::memcpy(&nBitsOf, &fValue, 4);
        nValue = nBitsOf;
      } else if (nBits == 8) {
        nValue = static_cast<std::uint64_t>(128 + static_cast<int>(v * 127));
      } else {
        const auto nScaled = static_cast<std::int64_t>(v * static_cast<double>(1LL << (nBits - 1)));
        nValue = static_cast<std::uint64_t>(nScaled);
      }
      if (bBigEndian) {
        AppendBe(bytes, nValue, nBits / 8);
      } else {
        AppendLe(bytes, nValue, nBits / 8);
      }
    }
  }
  return bytes;
}

struct WavShape {
  int nTag = 1;  // 1 PCM, 3 IEEE float
  int nChannels = 1;
  std::uint32_t nRate = 11025;
  int nBits = 16;
  int nFrames = 2048;
  std::int64_t nDeclaredData = -1;  // the data chunk's size as written; -1 the true size
};

Bytes Wav(const WavShape& shape) {
  const Bytes data = ToneData(shape.nFrames, shape.nChannels, shape.nBits, shape.nTag == 3);
  const auto nBlock = static_cast<std::uint32_t>(shape.nChannels * shape.nBits / 8);
  Bytes bytes;
  Append(bytes, "RIFF");
  AppendLe(bytes, 36 + data.size(), 4);
  Append(bytes, "WAVEfmt ");
  AppendLe(bytes, 16, 4);
  AppendLe(bytes, static_cast<std::uint64_t>(shape.nTag), 2);
  AppendLe(bytes, static_cast<std::uint64_t>(shape.nChannels), 2);
  AppendLe(bytes, shape.nRate, 4);
  AppendLe(bytes, static_cast<std::uint64_t>(shape.nRate) * nBlock, 4);
  AppendLe(bytes, nBlock, 2);
  AppendLe(bytes, static_cast<std::uint64_t>(shape.nBits), 2);
  Append(bytes, "data");
  AppendLe(bytes,
           shape.nDeclaredData < 0 ? data.size() : static_cast<std::uint64_t>(shape.nDeclaredData),
           4);
  bytes.insert(bytes.end(), data.begin(), data.end());
  return bytes;
}

// Sun/NeXT .au: big-endian header, encoding 3 = 16-bit PCM, 2 = 8-bit, 6 = float.
Bytes Au(std::uint32_t nEncoding, std::uint32_t nRate, std::uint32_t nChannels, int nFrames) {
  const int nBits = nEncoding == 2 ? 8 : nEncoding == 6 ? 32 : 16;
  Bytes data = ToneData(nFrames, static_cast<int>(nChannels % 8 + 1), nBits, nEncoding == 6, true);
  if (nBits == 8) {
    for (auto& b : data) {
      b = static_cast<std::uint8_t>(b - 128);  // signed 8-bit
    }
  }
  Bytes bytes;
  Append(bytes, ".snd");
  AppendBe(bytes, 24, 4);
  AppendBe(bytes, data.size(), 4);
  AppendBe(bytes, nEncoding, 4);
  AppendBe(bytes, nRate, 4);
  AppendBe(bytes, nChannels, 4);
  bytes.insert(bytes.end(), data.begin(), data.end());
  return bytes;
}

// AIFF with 16-bit big-endian samples; the rate as an 80-bit extended float.
Bytes Aiff(std::uint32_t nRate, int nChannels, int nFrames) {
  const Bytes data = ToneData(nFrames, nChannels, 16, false, true);
  Bytes bytes;
  Append(bytes, "FORM");
  AppendBe(bytes, 4 + 26 + 16 + data.size(), 4);
  Append(bytes, "AIFFCOMM");
  AppendBe(bytes, 18, 4);
  AppendBe(bytes, static_cast<std::uint64_t>(nChannels), 2);
  AppendBe(bytes, static_cast<std::uint64_t>(nFrames), 4);
  AppendBe(bytes, 16, 2);
  int nExponent = 0;
  std::uint64_t nMantissa = nRate;
  if (nMantissa != 0) {
    while ((nMantissa & (1ULL << 63)) == 0) {
      nMantissa <<= 1;
      ++nExponent;
    }
  }
  AppendBe(bytes, nMantissa == 0 ? 0 : static_cast<std::uint64_t>(16383 + 63 - nExponent), 2);
  AppendBe(bytes, nMantissa, 8);
  Append(bytes, "SSND");
  AppendBe(bytes, 8 + data.size(), 4);
  AppendBe(bytes, 0, 4);
  AppendBe(bytes, 0, 4);
  bytes.insert(bytes.end(), data.begin(), data.end());
  return bytes;
}

}  // namespace

std::vector<Bytes> SeedCorpus() {
  std::vector<Bytes> seeds;
  seeds.push_back(Wav({}));                                // passed through as it is
  seeds.push_back(Wav({.nChannels = 2, .nRate = 44100}));  // converted
  seeds.push_back(Wav({.nRate = 8000, .nBits = 8}));
  seeds.push_back(Wav({.nChannels = 2, .nRate = 11025, .nBits = 24}));
  seeds.push_back(Wav({.nTag = 3, .nRate = 48000, .nBits = 32}));
  seeds.push_back(Wav({.nRate = 22050, .nFrames = 0}));  // zero-length data
  seeds.push_back(Wav({.nFrames = 0}));
  seeds.push_back(Wav({.nFrames = 300}));  // shorter than one buffer
  seeds.push_back(Wav({.nRate = 1}));      // absurd rates
  seeds.push_back(Wav({.nRate = 43}));
  seeds.push_back(Wav({.nRate = 2822400, .nFrames = 4000}));
  seeds.push_back(Wav({.nRate = 0x7FFFFFFF}));
  seeds.push_back(Wav({.nRate = 0}));
  seeds.push_back(Wav({.nChannels = 0}));  // absurd channel counts
  seeds.push_back(Wav({.nChannels = 7, .nFrames = 200}));
  seeds.push_back(Wav({.nChannels = 1024, .nFrames = 2}));
  seeds.push_back(Wav({.nChannels = 65535, .nFrames = 0}));
  seeds.push_back(Wav({.nDeclaredData = 0x7FFFFFF0}));  // data size beyond the file
  seeds.push_back(Wav({.nDeclaredData = 1}));
  {
    Bytes bytes = Wav({});
    bytes.resize(30);  // header cut short
    seeds.push_back(bytes);
    bytes.resize(4);
    seeds.push_back(bytes);
  }
  seeds.push_back(Au(3, 11025, 1, 2048));
  seeds.push_back(Au(2, 8000, 1, 2048));
  seeds.push_back(Au(6, 96000, 2, 2048));
  seeds.push_back(Au(3, 0, 1, 100));
  seeds.push_back(Au(3, 11025, 0, 100));
  seeds.push_back(Au(3, 11025, 0xFFFFFFFFU, 100));
  seeds.push_back(Aiff(11025, 1, 2048));
  seeds.push_back(Aiff(32000, 2, 2048));
  seeds.push_back(Aiff(0, 1, 100));
  seeds.push_back({});  // empty file
  {
    Bytes bytes;  // not a sound file
    Append(bytes, "C4\nC4#\nD4\n");
    seeds.push_back(bytes);
  }
  return seeds;
}

}  // namespace fuzz
