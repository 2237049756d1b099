// What the fuzz targets share: a check that aborts (libFuzzer and the smoke driver both report
// an abort as a finding), a cursor over the input bytes, scratch files in the temporary folder,
// and the seed corpus each target defines for its smoke test and as libFuzzer's start.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace fuzz {

using Bytes = std::vector<std::uint8_t>;

// Prints `pszWhat` with its place and aborts.
[[noreturn]] void Fail(const char* pszWhat, const char* pszFile, int nLine);

#define FUZZ_CHECK(cond)                       \
  do {                                         \
    if (!(cond)) {                             \
      ::fuzz::Fail(#cond, __FILE__, __LINE__); \
    }                                          \
  } while (false)

// Reads an input front to back; past its end every read gives zeros.
class CByteReader {
 public:
  CByteReader(const std::uint8_t* pData, std::size_t nSize) : m_pData(pData), m_nSize(nSize) {}

  bool Empty() const { return m_nPos >= m_nSize; }
  std::size_t Left() const { return Empty() ? 0 : m_nSize - m_nPos; }
  std::uint8_t Byte() { return Empty() ? std::uint8_t{0} : m_pData[m_nPos++]; }
  std::uint16_t U16() {
    const std::uint16_t nLow = Byte();
    return static_cast<std::uint16_t>(nLow | (Byte() << 8));
  }
  std::uint32_t U32() {
    const std::uint32_t nLow = U16();
    return nLow | (static_cast<std::uint32_t>(U16()) << 16);
  }
  // Up to `nCount` bytes (fewer at the end of the input).
  std::string Text(std::size_t nCount);
  // The bytes up to (not including) `chEnd` or the end of the input; the end byte is consumed.
  std::string TextUntil(std::uint8_t chEnd);

 private:
  const std::uint8_t* m_pData;
  std::size_t m_nSize;
  std::size_t m_nPos = 0;
};

// A path in the temporary folder ($TMPDIR or /tmp) for `tag`, unique to this process; every
// scratch path is removed (with what it contains) when the process exits normally.
std::filesystem::path ScratchPath(const std::string& tag);

// Writes `nSize` bytes to `path`, replacing it; aborts when that fails.
void WriteWholeFile(const std::filesystem::path& path, const std::uint8_t* pData,
                    std::size_t nSize);

// The target's seed inputs: valid ones and deliberately broken ones. Each target defines it.
std::vector<Bytes> SeedCorpus();

// Helpers for building seeds.
void Append(Bytes& bytes, const std::string& text);
void AppendLe(Bytes& bytes, std::uint64_t nValue, int nBytes);
void AppendBe(Bytes& bytes, std::uint64_t nValue, int nBytes);

}  // namespace fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* pData, std::size_t nSize);
